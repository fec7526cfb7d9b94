// The advanced options dialog: the choice of the FTP name format for the next Apply.
#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace installer {

class TNameFmt : public QDialog {
public:
    explicit TNameFmt(QWidget* mainWindow);
    ~TNameFmt() override;

    // The selected item of FormatGrp: 0, 1 or 2 (0 at start).
    int ItemIndex() const;
    void SetItemIndex(int index);

    // The close box (and anything else that rejects) gives Cancel.
    void reject() override;

    std::unique_ptr<QGroupBox> FormatGrp;
    std::unique_ptr<QRadioButton> FormatItems[3];
    std::unique_ptr<QPushButton> Button1; // OK
    std::unique_ptr<QPushButton> Button2; // Cancel

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FitItems();

    std::unique_ptr<QButtonGroup> items_;
};

} // namespace installer
