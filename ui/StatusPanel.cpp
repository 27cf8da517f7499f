#include "ui/StatusPanel.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <QSizePolicy>

#include "ui/Accessible.h"

namespace {

// What the status panel is for, said by screen readers while it shows nothing.
const QString kStatusDescription = QStringLiteral("What the last command did");

}  // namespace

StatusPanel::StatusPanel(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("StatusBar1Panel1"));
    // The panel takes the width it is given, never the width of its text.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
    ui::NameChangingLabel(*this, ui::kStatusName, kStatusDescription);
}

void StatusPanel::SetWholeText(const QString& text) {
    whole_ = text;
    Fit();
    ui::DescribeByText(*this, whole_);
}

void StatusPanel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void StatusPanel::Fit() {
    const int room = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    const bool fits = metrics.horizontalAdvance(whole_) <= room;
    setText(fits ? whole_ : metrics.elidedText(whole_, Qt::ElideMiddle, room));
    setToolTip(fits ? QString() : whole_);
}
