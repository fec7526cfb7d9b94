// The main window's progress bar for the save file being sent. Its text is the installer's
// own ("27%, 1.2 GB of 4.4 GB, 112 MB/s, 29 s left"), shown as given: the bar's own
// placeholders (%p, %v, %m) are not looked for in it, so a file name holding one shows as
// it is.
#pragma once

#include <QProgressBar>
#include <QString>

namespace installer {

class TUploadProgressBar : public QProgressBar {
public:
    // Placed at `geometry` of `parent`; the font is fitted to that place at once, so that
    // nothing of it is left for the first upload to do.
    TUploadProgressBar(QWidget* parent, const QRect& geometry);

    // Shows `text`; one too wide for the bar (a long file name) loses its middle, not its
    // ends.
    void SetText(const QString& text);
    QString text() const override { return text_; }

    // Moves the bar to `geometry` and fits the font to that place.
    void Place(const QRect& geometry);

    // The width the bar has for its text.
    int TextRoom() const;

private:
    void FitFont();

    QString text_;
};

} // namespace installer
