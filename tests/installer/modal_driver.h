// Acting on modal windows from inside a test: a modal dialog runs its own event loop, so
// the test schedules what to do with it before opening it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace test_support {

namespace detail {
inline void PollForModal(std::function<void(QWidget*)> action, int attemptsLeft, int delay) {
    QTimer::singleShot(delay, [action = std::move(action), attemptsLeft] {
        if (QWidget* modal = QApplication::activeModalWidget())
            action(modal);
        else if (attemptsLeft > 0)
            PollForModal(action, attemptsLeft - 1, 5);
        else
            ADD_FAILURE() << "no modal window opened";
    });
}
} // namespace detail

// Calls `action` with the active modal widget as soon as one is open. If none opens within
// a bounded number of checks, the test fails instead of hanging.
inline void WhenModal(std::function<void(QWidget*)> action) {
    detail::PollForModal(std::move(action), 2000, 0);
}

// What a message box showed, and closes it with its OK button.
struct SeenMessageBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    int buttons = 0;
};

inline std::shared_ptr<SeenMessageBox> WhenMessageBox() {
    auto seen = std::make_shared<SeenMessageBox>();
    WhenModal([seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            ADD_FAILURE() << "the modal window is not a message box";
            modal->close();
            return;
        }
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->format = box->textFormat();
        seen->buttons = static_cast<int>(box->buttons().size());
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->close();
    });
    return seen;
}

} // namespace test_support
