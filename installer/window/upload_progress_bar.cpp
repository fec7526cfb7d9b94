#include "installer/window/upload_progress_bar.h"

#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace installer {
namespace {

// The widest text the bar shows while a save file of a few GB goes up.
const char kWidestText[] = "99%, 8.8 GB of 8.8 GB, 888 MB/s, 59 min 59 s left";

// What the style keeps free on either side of the text.
constexpr int kTextMargin = 2;

// Narrower faces are tried down to this stretch before the text is cut.
constexpr int kNarrowestStretch = 75;

} // namespace

TUploadProgressBar::TUploadProgressBar(QWidget* parent, const QRect& geometry)
    : QProgressBar(parent) {
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
    setFocusPolicy(Qt::NoFocus);
    Place(geometry);
}

void TUploadProgressBar::Place(const QRect& geometry) {
    setGeometry(geometry);
    FitFont();
}

int TUploadProgressBar::TextRoom() const {
    QStyleOptionProgressBar option;
    option.initFrom(this);
    return style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this).width() -
           2 * kTextMargin;
}

void TUploadProgressBar::FitFont() {
    // Chosen for each place the bar is given, for the widest text of an ordinary upload, so
    // that the font does not change while the numbers do.
    QFont narrower = font();
    int stretch = QFont::Unstretched;
    narrower.setStretch(stretch);
    while (QFontMetrics(narrower, this).horizontalAdvance(QString::fromLatin1(kWidestText)) >
               TextRoom() &&
           stretch > kNarrowestStretch) {
        stretch = std::max(kNarrowestStretch, stretch - 5);
        narrower.setStretch(stretch);
    }
    setFont(narrower);
}

void TUploadProgressBar::SetText(const QString& text) {
    text_ = fontMetrics().elidedText(text, Qt::ElideMiddle, TextRoom());
    update();
}

} // namespace installer
