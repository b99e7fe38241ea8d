#include "grading/ProfilePlot.h"

#include "grading/GradeReport.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QPainterPath>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace raitakone::grading {

void drawProfile(QPainter& painter, const SymbolGrade& symbol, int line, QSizeF size)
{
    static const Profile none;
    const bool drawn = line >= 0 && size_t(line) < symbol.lines.size();
    const Profile& p = drawn ? symbol.lines[size_t(line)].profile : none;
    const double lengthMm = p.reflectance.empty() ? 1.0 : (p.reflectance.size() - 1) * p.stepMm;
    const QRectF area(86.0, 40.0, size.width() - 206.0, size.height() - 90.0);
    auto x = [&](double mm) { return area.left() + area.width() * mm / lengthMm; };
    auto y = [&](double r) { return area.bottom() - area.height() * std::clamp(r, 0.0, 100.0) / 100.0; };

    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Bars shaded, edges marked where the profile crosses GT.
    for (const auto& [from, to] : p.barsMm)
        painter.fillRect(QRectF(QPointF(x(from), area.top()), QPointF(x(to), area.bottom())), QColor(215, 215, 215));
    painter.setPen(QPen(QColor(150, 150, 150), 0.8));
    for (double e : p.edgesMm)
        painter.drawLine(QPointF(x(e), y(p.gt) - 6.0), QPointF(x(e), y(p.gt) + 6.0));

    // Axes, grid every 10 %, and positions every 1, 2, 5, 10... mm, as
    // many as fit their numbers.
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QPen(QColor(235, 235, 235), 1.0));
    for (int r = 0; r <= 100; r += 10)
        painter.drawLine(QPointF(area.left(), y(r)), QPointF(area.right(), y(r)));
    painter.setPen(QPen(Qt::black, 1.0));
    painter.drawRect(area);
    for (int r = 0; r <= 100; r += 20)
        painter.drawText(QRectF(0, y(r) - 9, area.left() - 8, 18), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("%1 %").arg(r));
    int tickMm = 1;
    for (int candidate : {1, 2, 5, 10, 20, 50, 100})
        if ((tickMm = candidate) * area.width() / lengthMm >= 45.0)
            break;
    for (int mm = 0; mm <= int(lengthMm); mm += tickMm) {
        painter.drawLine(QPointF(x(mm), area.bottom()), QPointF(x(mm), area.bottom() + 5));
        painter.drawText(QRectF(x(mm) - 30, area.bottom() + 6, 60, 18), Qt::AlignHCenter | Qt::AlignTop,
                         QString::number(mm));
    }
    painter.drawText(QRectF(area.left(), area.bottom() + 26, area.width(), 20), Qt::AlignHCenter,
                     QStringLiteral("paikka (mm)"));
    painter.save();
    painter.translate(4.0, area.center().y());
    painter.rotate(-90.0);
    painter.drawText(QRectF(-area.height() / 2.0, 0.0, area.height(), 18.0), Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("heijastuvuus (%)"));
    painter.restore();

    // Rmin, Rmax and GT.
    auto level = [&](double r, const QColor& colour, Qt::PenStyle style, const QString& name) {
        painter.setPen(QPen(colour, 1.5, style));
        painter.drawLine(QPointF(area.left(), y(r)), QPointF(area.right(), y(r)));
        painter.drawText(QRectF(area.right() + 8, y(r) - 9, size.width() - area.right() - 8, 18),
                         Qt::AlignLeft | Qt::AlignVCenter, name);
    };
    level(p.rmax, QColor(0, 110, 0), Qt::DashLine, QStringLiteral("Rmax %1 %").arg(reportNumber(p.rmax, 1)));
    level(p.gt, QColor(200, 0, 0), Qt::SolidLine, QStringLiteral("GT %1 %").arg(reportNumber(p.gt, 1)));
    level(p.rmin, QColor(0, 0, 180), Qt::DashLine, QStringLiteral("Rmin %1 %").arg(reportNumber(p.rmin, 1)));

    // The profile itself.
    QPainterPath path;
    for (size_t i = 0; i < p.reflectance.size(); ++i) {
        const QPointF point(x(i * p.stepMm), y(p.reflectance[i]));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    painter.setPen(QPen(Qt::black, 1.2));
    painter.drawPath(path);

    // Each element's extreme, the highest point of a space and the lowest of
    // a bar: a sagging space or a pale bar stands out of its row of dots.
    std::vector<size_t> bounds{0};
    for (double e : p.edgesMm)
        bounds.push_back(std::min(p.reflectance.size(), size_t(std::ceil(e / p.stepMm))));
    bounds.push_back(p.reflectance.size());
    painter.setPen(Qt::NoPen);
    // Elements alternate from the line's start: the edges lie at the
    // midpoints between neighbours, so a narrow space may dip below GT
    // before its edge.
    const bool startsDark = !p.reflectance.empty() && p.reflectance.front() < p.gt;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        if (bounds[k + 1] <= bounds[k])
            continue;
        const auto from = p.reflectance.begin() + long(bounds[k]), to = p.reflectance.begin() + long(bounds[k + 1]);
        const bool dark = (k % 2 == 0) == startsDark;
        const auto at = dark ? std::min_element(from, to) : std::max_element(from, to);
        painter.setBrush(dark ? QColor(0, 0, 200) : QColor(0, 140, 0));
        painter.drawEllipse(QPointF(x(double(at - p.reflectance.begin()) * p.stepMm), y(*at)), 2.5, 2.5);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1.0));

    // The title's letters shrink to fit a narrow plot, down to a size still
    // read; what is left over then ends in an ellipsis.
    const QString title = QStringLiteral("Pyyhkäisyprofiili, viiva %1/%2 (arvosana %3), laatu %4")
                              .arg(line + 1)
                              .arg(symbol.lines.size())
                              .arg(drawn ? QString::number(symbol.lines[size_t(line)].grade) : QStringLiteral("–"))
                              .arg(symbol.gradeText);
    const QRectF titleRect(area.left(), 8, size.width() - area.left() - 8, 26);
    font.setPixelSize(17);
    const double wide = QFontMetricsF(font).horizontalAdvance(title);
    if (wide > titleRect.width())
        font.setPixelSize(std::max(11, int(17.0 * titleRect.width() / wide)));
    painter.setFont(font);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(title, Qt::ElideRight, titleRect.width()));
}

bool writeProfilePlot(const SymbolGrade& symbol, const QString& path, QString* error, int line)
{
    const bool svg = path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
    if (!svg && !path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("Kuvaajan tiedostonimen pitää päättyä .png tai .svg: %1").arg(path);
        return false;
    }
    // Written beside the target and renamed over it only when whole: an
    // existing file is replaced whole or not at all. Unbuffered, so that a
    // write the disk refuses is seen by the save file itself.
    QSaveFile file(path);
    const auto fail = [&](const QString& why) {
        file.cancelWriting();
        *error = QStringLiteral("Kuvaajaa %1 ei voi kirjoittaa: %2. Tarkista, että kansio on olemassa ja siihen saa "
                                "kirjoittaa ja että levyllä on tilaa.")
                     .arg(path, why);
        return false;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (svg) {
        // Drawn in CSS pixels at their size on screen, so that the file
        // opens as wide as the plot in the window (about 32 cm), not the
        // PNG's 2400 pixels taken as points.
        const QSize size(kSvgPlotWidth, kSvgPlotHeight);
        QSvgGenerator generator;
        generator.setOutputDevice(&file);
        generator.setResolution(kSvgPixelsPerInch);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(QStringLiteral("Pyyhkäisyprofiili %1").arg(symbol.gradeText));
        QPainter painter;
        if (!painter.begin(&generator))
            return fail(file.errorString());
        drawProfile(painter, symbol, line, size);
        painter.end();
    } else {
        const QSize size(kPlotWidth, kPlotHeight);
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        drawProfile(painter, symbol, line, size);
        painter.end();
        if (!image.save(&file, "PNG"))
            return fail(file.errorString());
    }
    if (file.error() != QFileDevice::NoError || !file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace raitakone::grading
