// The main window: AS/400 address and credentials, the Apply button, and the status log.
#pragma once

#include "ftp/ftp_client.h"
#include "installer/procedure/apply_observer.h"
#include "installer/procedure/apply_procedure.h"
#include "installer/procedure/apply_request.h"
#include "installer/procedure/program_values.h"
#include "installer/window/window_controls.h"

#include <QDialog>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace installer {

class TNameFmt;
class TReadme;
class TUploadProgressBar;

class TApplyUpdateForm : public QDialog, public ApplyObserver {
public:
    // Creates the window and runs its creation handler, which reads the descriptor beside
    // the executable at `executablePath`.
    explicit TApplyUpdateForm(std::string executablePath);
    ~TApplyUpdateForm() override;

    // The two dialogs are created after the main window; it reaches them from then on.
    void SetDialogs(TNameFmt* nameFmt, TReadme* readme);

    // What Apply runs: the apply procedure unless something else is plugged in here. The
    // window makes the run's request from its fields and hears the run as its observer.
    void SetApplyProcedure(std::function<void()> procedure);
    ApplyProcedure& Procedure() { return *procedure_; }

    // Start-up values (the descriptor file object is released when the window closes).
    ProgramValues& Program() { return values_; }

    // Event handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void ApplyBtnClick();
    // One press of Apply: the fields are checked, the readme is shown once, the run goes,
    // and afterwards the address, user and choices are remembered and a failure shown. An
    // error that ended the run is raised last, for the top-level error report.
    void Apply();
    // Closes the window; while Apply runs it is the Stop button instead.
    void CancelBtnClick();
    void FtpConnectionFailed();
    void Button1Click();
    void ReadmeBtnClick();
    void Exit1Click();
    void Reset1Click();

    // The status log as lines (what AddLine wrote, and anything typed into it).
    std::vector<std::string> LogLines() const;

    // The status log's context menu: Copy, Select All, Save Log As...
    std::unique_ptr<QMenu> CreateLogMenu();
    // Asks where to save the log (offering DefaultLogPath()) and saves it there.
    void SaveLogAs();
    // "apply-update-<update>-<date>.log" in the package folder, or in the home folder when
    // the package folder cannot be written to.
    QString DefaultLogPath() const;
    // Writes the log to `path` as UTF-8 text, with every occurrence of the password the log
    // was written with (and of the one in the field now) masked; false when the file cannot
    // be written.
    bool WriteLog(const QString& path) const;

    // The run's request, made from the fields and the advanced options.
    ApplyRequest Request() const;

    // Modal message box with one OK button and no icon, captioned "Apply Update".
    void ShowMessage(const std::string& text);
    // Modal message box with the error icon and one OK button, captioned "Error".
    void ErrorDialog(const std::string& text);
    // The readme acknowledgement: set once the readme dialog was closed with OK.
    bool ReadmeAcknowledged() const { return readmeAcknowledged_; }
    // Shows the readme dialog modally and returns its modal result (mrOk or mrCancel).
    int ShowReadmeModal();
    // Application-wide hourglass, and back to the default cursor.
    void SetBusyCursor();
    void SetNormalCursor();
    // The whole window; a disabled window takes no input, its close box included.
    void SetWindowEnabled(bool enabled);
    void SetControlEnabled(ApplyControl control, bool enabled);
    // A field's text in Latin-1, and whether Latin-1 can carry all of it.
    std::string FieldText(ApplyField field) const;
    bool FieldSendable(ApplyField field) const;
    bool ReplaceChecked() const;
    int NameFormatIndex() const;
    ConnectionOptions ConnectionChoice() const;
    std::string ExecutablePath() const { return executablePath_; }
    std::string ExecutableDirectory() const;
    bool FileExists(const std::string& path) const;

    // What a run tells the window.
    void BusyChanged(bool busy) override;
    bool ConfirmCertificate(const CertificateQuestion& question) override;
    void ClearLog() override;
    void AddLine(const std::string& message, int blankLines) override;
    void ShowUploadProgress(int permille, const std::string& text) override;
    void HideUploadProgress() override;
    void ShowConnectionSecurity(const std::string& state) override;

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
    // The progress of the save file being sent, beside "Status" while a run uploads; it
    // takes no focus, so the tab order is that of the controls above.
    std::unique_ptr<TUploadProgressBar> UploadProgressBar;
    // Whether the run's conversation is secured, at the right end of the progress's row
    // while a run is connected; the progress then keeps the room left of it.
    std::unique_ptr<QLabel> SecurityLbl;

    // The FTP client, owned for the program's life; its OnConnectionFailed is handled by
    // FtpConnectionFailed. Declared before the procedure that drives it, so it outlives it.
    std::unique_ptr<TFtpClient> Ftp;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void ShowFieldTexts(const FieldTexts& texts);
    QWidget* ControlWidget(ApplyControl control) const;
    QLineEdit* FieldEdit(ApplyField field) const;

    std::string executablePath_;
    ProgramValues values_;
    ConnectionOptions startOptions_; // the descriptor's, or the remembered, choices
    bool readmeAcknowledged_ = false;
    TNameFmt* nameFmt_ = nullptr; // owned by whoever created the dialogs
    TReadme* readme_ = nullptr;
    std::function<void()> applyProcedure_;
    std::unique_ptr<ApplyProcedure> procedure_;

    // While Apply runs the window takes no input, except through its Close button, which
    // reads Stop. A disabled window would disable that button too, so instead each other
    // control is disabled, and the state it would have had is kept here for when the window
    // takes input again.
    bool inputBlocked_ = false;
    std::map<QWidget*, bool> blockedControls_;

    // The password of the run whose lines the log holds, masked when the log is saved.
    QString logPassword_;
};

} // namespace installer
