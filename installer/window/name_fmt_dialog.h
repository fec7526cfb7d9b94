// The advanced options dialog: the choice of the FTP name format for the next Apply, and how
// the installer reaches the AS/400 (connection security, data connection).
#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace installer {

// One group of three choices; the selected item is its index.
struct TChoiceGroup {
    std::unique_ptr<QGroupBox> Group;
    std::unique_ptr<QRadioButton> Items[3];
    std::unique_ptr<QButtonGroup> Buttons;

    int ItemIndex() const;
    void SetItemIndex(int index);
};

class TNameFmt : public QDialog {
public:
    explicit TNameFmt(QWidget* mainWindow);
    ~TNameFmt() override;

    // The selected item of FormatGrp: 0, 1 or 2 (0 at start).
    int ItemIndex() const { return Format.ItemIndex(); }
    void SetItemIndex(int index) { Format.SetItemIndex(index); }

    // What each group holds, all three at once: OK keeps what was chosen, Cancel restores
    // what the dialog held when it opened.
    struct Choices {
        int format = 0;
        int security = 0;
        int dataConnection = 0;
    };
    Choices Chosen() const;
    void Choose(const Choices& choices);

    // The close box (and anything else that rejects) gives Cancel.
    void reject() override;

    TChoiceGroup Format;                  // " Set the FTP NAMEFMT option "
    TChoiceGroup Security;                // " Connection security ": SecurityChoice order
    TChoiceGroup DataConnection;          // " Data connection ": DataConnectionChoice order
    std::unique_ptr<QPushButton> Button1; // OK
    std::unique_ptr<QPushButton> Button2; // Cancel

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FitItems();
};

} // namespace installer
