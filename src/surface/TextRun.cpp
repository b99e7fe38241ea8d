#include "surface/TextRun.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace raitakone {
namespace {

// Glyphs are sized by the vertical resolution; a device with a different
// horizontal resolution gets the glyphs stretched to keep their proportions.
QFont deviceFont(const TextFont& font, double dpiY)
{
    QFont f(QString::fromStdString(font.name));
    f.setPixelSize(std::max(1, int(std::lround(font.size * dpiY / 72.0))));
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

} // namespace

int lineHeight(const TextFont& font, double, double dpiY)
{
    return int(std::ceil(QFontMetricsF(deviceFont(font, dpiY)).height()));
}

int textWidth(const std::string& text, const TextFont& font, double dpiX, double dpiY)
{
    const QFontMetricsF metrics(deviceFont(font, dpiY));
    return int(std::lround(metrics.horizontalAdvance(QString::fromStdString(text)) * dpiX / dpiY));
}

TextRun renderText(const std::string& text, const TextFont& font, double dpiX, double dpiY)
{
    const QFont f = deviceFont(font, dpiY);
    const QFontMetricsF metrics(f);
    const QString qtext = QString::fromStdString(text);
    const double stretch = dpiX / dpiY;

    TextRun run;
    run.width = textWidth(text, font, dpiX, dpiY);
    run.height = int(std::ceil(metrics.height()));
    if (run.width <= 0)
        return run;

    QImage cell(run.width, run.height, QImage::Format_RGB32);
    cell.fill(Qt::white);
    {
        QPainter painter(&cell);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(f);
        painter.setPen(Qt::black);
        painter.scale(stretch, 1.0);
        painter.drawText(QPointF(0, metrics.ascent()), qtext);
    }
    run.ink.resize(size_t(run.width) * size_t(run.height));
    for (int y = 0; y < run.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(cell.constScanLine(y));
        for (int x = 0; x < run.width; ++x)
            run.ink[size_t(y) * size_t(run.width) + size_t(x)] = qGray(line[x]) < 128;
    }
    return run;
}

} // namespace raitakone
