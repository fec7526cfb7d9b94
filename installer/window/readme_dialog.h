// The readme dialog: shows the package's Readme.txt and records, through its OK button,
// that the operator has read it.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace installer {

class TReadme : public QDialog {
public:
    explicit TReadme(QWidget* mainWindow);
    ~TReadme() override;

    // Replaces the memo's text with the file's lines, read as UTF-8 when the file is
    // well-formed UTF-8 and as Latin-1 otherwise; raises EFOpenError when the file cannot
    // be read.
    void LoadFromFile(const std::string& path);

    // OK: tells the main window the readme was acknowledged, then closes with mrOk.
    void Button1Click();

    // The close box (and anything else that rejects) gives Cancel.
    void reject() override;

    // Called by OK before the dialog closes.
    std::function<void()> OnAcknowledge;

    std::unique_ptr<QPlainTextEdit> Memo1;
    std::unique_ptr<QFrame> Panel1;
    std::unique_ptr<QPushButton> Button1; // OK
    std::unique_ptr<QPushButton> Button2; // Cancel

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace installer
