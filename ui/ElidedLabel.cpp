#include "ui/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <QSizePolicy>
#include <algorithm>
#include <utility>

#include "ui/Accessible.h"

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    // The label takes the width it is given, never the width of its text.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::Name(const QString& name, const QString& idleDescription) {
    ui::NameChangingLabel(*this, name, idleDescription);
    ui::DescribeByText(*this, whole_);
}

void ElidedLabel::SetWholeText(const QString& text) {
    whole_ = text;
    Fit();
    ui::DescribeByText(*this, whole_);
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void ElidedLabel::Fit() {
    const int room = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    // What is drawn: the advance, or the glyphs' ink where it reaches beyond (a last "s"
    // antialiased past its advance).
    const auto drawn = [&metrics](const QString& text) {
        return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
    };
    const bool fits = drawn(whole_) <= room;
    QString shown = fits ? whole_ : QString();
    // elidedText sums fractional advances and may return a text a pixel or two wider than
    // asked; it is asked again for less until what it returns is drawn inside the room.
    for (int width = room; !fits && shown.isEmpty() && width > 0; --width) {
        if (QString elided = metrics.elidedText(whole_, Qt::ElideMiddle, width);
            drawn(elided) <= room) {
            shown = std::move(elided);
        }
    }
    setText(shown);
    setToolTip(fits ? QString() : whole_);
}
