#include "ui/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <QSizePolicy>

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
    const bool fits = metrics.horizontalAdvance(whole_) <= room;
    setText(fits ? whole_ : metrics.elidedText(whole_, Qt::ElideMiddle, room));
    setToolTip(fits ? QString() : whole_);
}
