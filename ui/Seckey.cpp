#include "ui/Seckey.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <limits>

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setupUi(this);
    setFixedSize(size());
}

QStringList TForm4::KeyLines() const {
    const QString text = Memo1->toPlainText();
    if (text.isEmpty()) {
        return {};
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void TForm4::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

std::optional<std::int32_t> ParseKeyNumber(const QString& text) {
    // The key file holds plain signed decimals, so that is all a key line may
    // be. Blanks around the number are forgiven because pasted keys often carry
    // them; anything else (hexadecimal prefixes, inner blanks, a second number)
    // is refused rather than guessed at, since a misread word decodes to garbage.
    const QString trimmed = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed[i] == QLatin1Char('+') || trimmed[i] == QLatin1Char('-'))) {
        negative = trimmed[i] == QLatin1Char('-');
        ++i;
    }
    if (i == trimmed.size()) {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < trimmed.size(); ++i) {
        const char16_t c = trimmed[i].unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    if (!negative && magnitude == kLimit) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
