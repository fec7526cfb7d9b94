// The main window: AS/400 address and credentials, the Apply button, and the status log.
#pragma once

#include "installer/apply_ui.h"
#include "installer/program_values.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace installer {

class TNameFmt;
class TReadme;

class TApplyUpdateForm : public QDialog, public ApplyUi {
public:
    // Creates the window and runs its creation handler, which reads the descriptor beside
    // the executable at `executablePath`.
    explicit TApplyUpdateForm(std::string executablePath);
    ~TApplyUpdateForm() override;

    // The two dialogs are created after the main window; it reaches them from then on.
    void SetDialogs(TNameFmt* nameFmt, TReadme* readme);

    // What Apply runs. The apply procedure is plugged in here; it reaches the window
    // only through ApplyUi.
    void SetApplyProcedure(std::function<void()> procedure);

    // Start-up values (the descriptor file object is released when the window closes).
    ProgramValues& Program() { return values_; }

    // Event handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void ApplyBtnClick();
    void CancelBtnClick();
    void Button1Click();
    void ReadmeBtnClick();
    void Exit1Click();
    void Reset1Click();

    // The status log as lines (what AddLine wrote, and anything typed into it).
    std::vector<std::string> LogLines() const;

    // ApplyUi.
    void ShowMessage(const std::string& text) override;
    void ErrorDialog(const std::string& text) override;
    bool ReadmeAcknowledged() const override { return readmeAcknowledged_; }
    int ShowReadmeModal() override;
    void SetBusyCursor() override;
    void SetNormalCursor() override;
    void SetWindowEnabled(bool enabled) override;
    void SetControlEnabled(ApplyControl control, bool enabled) override;
    std::string FieldText(ApplyField field) const override;
    bool ReplaceChecked() const override;
    int NameFormatIndex() const override;
    void ClearLog() override;
    void AddLine(const std::string& message, int blankLines) override;
    std::string ExecutablePath() const override { return executablePath_; }
    std::string ExecutableDirectory() const override;
    bool FileExists(const std::string& path) const override;

    // Controls, in tab order after the labels.
    std::unique_ptr<QLabel> UpdName;
    std::unique_ptr<QLabel> Label1;
    std::unique_ptr<QLabel> Label2;
    std::unique_ptr<QLabel> Label3;
    std::unique_ptr<QLabel> Label7;
    std::unique_ptr<QLabel> Label4;
    std::unique_ptr<QLineEdit> SystemEdt;
    std::unique_ptr<QLineEdit> UserIdEdt;
    std::unique_ptr<QLineEdit> PassEdt;
    std::unique_ptr<QLineEdit> TargetLibEdt;
    std::unique_ptr<QCheckBox> Replaceopt;
    std::unique_ptr<QPushButton> ApplyBtn;
    std::unique_ptr<QPushButton> CancelBtn;
    std::unique_ptr<QPlainTextEdit> StatusMemo;
    std::unique_ptr<QPushButton> Button1; // Advanced>>>
    std::unique_ptr<QPushButton> ReadmeBtn;

    // The FTP client `Ftp` (TNMFTP) joins the window here: the window owns it for the
    // program's life and handles its OnConnectionFailed (FtpConnectionFailed).

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void ShowFieldTexts(const FieldTexts& texts);
    QWidget* ControlWidget(ApplyControl control) const;

    std::string executablePath_;
    ProgramValues values_;
    bool readmeAcknowledged_ = false;
    TNameFmt* nameFmt_ = nullptr; // owned by whoever created the dialogs
    TReadme* readme_ = nullptr;
    std::function<void()> applyProcedure_;
};

} // namespace installer
