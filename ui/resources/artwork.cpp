// Draws the program's pictures: the button glyphs, the window icon and the About
// picture. Run once after a change and commit the PNG files it writes:
//     quorvane-artwork ui/resources
// (QT_QPA_PLATFORM=offscreen works without a display.)

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <cstdio>

namespace {

QImage Canvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

// A red recording dot.
QImage Record() {
    QImage image = Canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient fill(QPointF(12, 11), 16);
    fill.setColorAt(0, QColor(255, 120, 110));
    fill.setColorAt(1, QColor(190, 20, 20));
    p.setBrush(fill);
    p.setPen(QPen(QColor(120, 10, 10), 1.5));
    p.drawEllipse(QPointF(16, 16), 11, 11);
    return image;
}

// A green play triangle.
QImage Play() {
    QImage image = Canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(9, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(9, 27);
    triangle.closeSubpath();
    QLinearGradient fill(0, 5, 0, 27);
    fill.setColorAt(0, QColor(90, 200, 90));
    fill.setColorAt(1, QColor(20, 120, 30));
    p.setBrush(fill);
    p.setPen(QPen(QColor(10, 80, 20), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(triangle);
    return image;
}

// A blue disc with a question mark.
QImage Help() {
    QImage image = Canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(40, 100, 200));
    p.setPen(QPen(QColor(20, 50, 130), 1.5));
    p.drawEllipse(QPointF(16, 16), 12, 12);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

// A sound wave that runs into the bit of a key.
void DrawWaveKey(QPainter& p, QRectF area, const QColor& colour, qreal pen) {
    const qreal mid = area.center().y();
    const qreal waveEnd = area.left() + area.width() * 0.52;
    QPainterPath wave;
    wave.moveTo(area.left(), mid);
    const int steps = 240;
    for (int i = 1; i <= steps; ++i) {
        const qreal t = static_cast<qreal>(i) / steps;
        const qreal x = area.left() + t * (waveEnd - area.left());
        // A spoken-word envelope: rises, holds, falls into the key's shaft.
        const qreal envelope = std::sin(t * 3.14159265) * (0.55 + 0.45 * std::sin(t * 9.0));
        const qreal y = mid - envelope * area.height() * 0.42 * std::sin(t * 62.0);
        wave.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(wave);

    // Shaft, bit and bow of the key.
    const qreal shaftEnd = area.left() + area.width() * 0.80;
    p.drawLine(QPointF(waveEnd, mid), QPointF(shaftEnd, mid));
    const qreal tooth = area.height() * 0.16;
    p.drawLine(QPointF(waveEnd + area.width() * 0.04, mid),
               QPointF(waveEnd + area.width() * 0.04, mid + tooth));
    p.drawLine(QPointF(waveEnd + area.width() * 0.09, mid),
               QPointF(waveEnd + area.width() * 0.09, mid + tooth * 0.7));
    p.drawLine(QPointF(waveEnd + area.width() * 0.13, mid),
               QPointF(waveEnd + area.width() * 0.13, mid + tooth));
    const qreal bow = area.height() * 0.26;
    p.drawEllipse(QPointF(shaftEnd + bow, mid), bow, bow);
    p.drawEllipse(QPointF(shaftEnd + bow, mid), bow * 0.38, bow * 0.38);
}

// The window icon: the wave-and-key on a rounded dark square.
QImage Icon() {
    QImage image = Canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, 64);
    back.setColorAt(0, QColor(24, 52, 96));
    back.setColorAt(1, QColor(8, 20, 44));
    p.setBrush(back);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    DrawWaveKey(p, QRectF(6, 14, 46, 36), QColor(250, 200, 60), 3.0);
    return image;
}

// The About picture, 482 x 258 (shown at 241 x 129): a night-blue field with a
// glowing wave that turns into a key, and the product name.
QImage About() {
    const int width = 482;
    const int height = 258;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient back(0, 0, width, height);
    back.setColorAt(0, QColor(16, 38, 78));
    back.setColorAt(1, QColor(4, 10, 26));
    p.fillRect(image.rect(), back);

    // Faint grid of a spectrogram.
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    for (int x = 0; x < width; x += 24) {
        p.drawLine(x, 0, x, height);
    }
    for (int y = 0; y < height; y += 24) {
        p.drawLine(0, y, width, y);
    }

    // Glow, then the line itself.
    const QRectF area(34, 40, 380, 130);
    DrawWaveKey(p, area, QColor(250, 200, 60, 60), 11.0);
    DrawWaveKey(p, area, QColor(255, 214, 90), 4.0);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(44);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(title);
    p.setPen(QColor(235, 242, 255));
    p.drawText(QRectF(0, 178, width, 50), Qt::AlignCenter, QStringLiteral("QUORVANE"));
    QFont tag(QStringLiteral("DejaVu Sans"));
    tag.setPixelSize(17);
    p.setFont(tag);
    p.setPen(QColor(160, 190, 230));
    p.drawText(QRectF(0, 226, width, 24), Qt::AlignCenter, QStringLiteral("your voice is the key"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = Save(Record(), folder, "record.png") && Save(Play(), folder, "play.png") &&
                    Save(Help(), folder, "help.png") && Save(Icon(), folder, "quorvane.png") &&
                    Save(About(), folder, "about.png");
    return ok ? 0 : 1;
}
