#include "grading/Calibration.h"

#include "grading/GradeReport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace raitakone::grading {
namespace {

// A calibration file is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxCalibrationBytes = 1 << 20;

// A monotone cubic through points sorted by value (Fritsch–Carlson): it
// never overshoots between steps, so the curve rises wherever they do.
// Beyond the ends it goes on along the end slope.
struct MonotoneCubic {
    std::vector<double> x, y, m;

    explicit MonotoneCubic(const std::vector<std::pair<double, double>>& points)
    {
        for (const auto& [px, py] : points) {
            x.push_back(px);
            y.push_back(py);
        }
        const size_t n = x.size();
        m.assign(n, 0.0);
        if (n < 2)
            return;
        std::vector<double> h(n - 1), d(n - 1);
        for (size_t k = 0; k + 1 < n; ++k) {
            h[k] = x[k + 1] - x[k];
            d[k] = (y[k + 1] - y[k]) / h[k];
        }
        if (n == 2) {
            m[0] = m[1] = d[0];
            return;
        }
        for (size_t k = 1; k + 1 < n; ++k)
            m[k] = d[k - 1] * d[k] <= 0.0 ? 0.0 : (d[k - 1] + d[k]) / 2.0;
        // The ends: the one-sided three-point slope, kept to the data's sign.
        const auto end = [](double h0, double h1, double d0, double d1) {
            double s = ((2.0 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
            if (s * d0 <= 0.0)
                s = 0.0;
            else if (d0 * d1 < 0.0 && std::fabs(s) > 3.0 * std::fabs(d0))
                s = 3.0 * d0;
            return s;
        };
        m[0] = end(h[0], h[1], d[0], d[1]);
        m[n - 1] = end(h[n - 2], h[n - 3], d[n - 2], d[n - 3]);
        // Fritsch–Carlson: slopes limited so that no interval overshoots.
        for (size_t k = 0; k + 1 < n; ++k) {
            if (d[k] == 0.0) {
                m[k] = m[k + 1] = 0.0;
                continue;
            }
            const double a = m[k] / d[k], b = m[k + 1] / d[k];
            if (a * a + b * b > 9.0) {
                const double t = 3.0 / std::sqrt(a * a + b * b);
                m[k] = t * a * d[k];
                m[k + 1] = t * b * d[k];
            }
        }
    }

    double at(double v) const
    {
        if (v <= x.front())
            return y.front() + m.front() * (v - x.front());
        if (v >= x.back())
            return y.back() + m.back() * (v - x.back());
        const size_t k = size_t(std::upper_bound(x.begin(), x.end(), v) - x.begin()) - 1;
        const double h = x[k + 1] - x[k], t = (v - x[k]) / h;
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * m[k] + (-2 * t3 + 3 * t2) * y[k + 1] +
               (t3 - t2) * h * m[k + 1];
    }
};

// Points that share a value (within a quarter step) become their mean.
std::vector<std::pair<double, double>> curvePoints(const std::vector<CalibrationStep>& steps, int skip = -1)
{
    std::vector<std::pair<double, double>> points;
    for (size_t i = 0; i < steps.size(); ++i)
        if (int(i) != skip && !steps[i].clipped)
            points.emplace_back(steps[i].scanValue, steps[i].reflectance);
    std::sort(points.begin(), points.end());
    std::vector<std::pair<double, double>> merged;
    for (size_t i = 0; i < points.size();) {
        size_t j = i;
        double sx = 0.0, sy = 0.0;
        for (; j < points.size() && points[j].first - points[i].first < 0.25; ++j) {
            sx += points[j].first;
            sy += points[j].second;
        }
        merged.emplace_back(sx / double(j - i), sy / double(j - i));
        i = j;
    }
    return merged;
}

double clampReflectance(double r) { return std::clamp(r, 0.0, 120.0); }

QString percentText(double r);

// Monotone: a lighter step never reads darker, beyond a level's noise. Why
// not, in Finnish; empty when it is.
QString monotoneProblem(const std::vector<CalibrationStep>& steps)
{
    std::vector<const CalibrationStep*> byReflectance;
    for (const CalibrationStep& step : steps)
        byReflectance.push_back(&step);
    std::sort(byReflectance.begin(), byReflectance.end(),
              [](const CalibrationStep* a, const CalibrationStep* b) { return a->reflectance < b->reflectance; });
    for (size_t i = 1; i < byReflectance.size(); ++i) {
        const CalibrationStep& darker = *byReflectance[i - 1];
        const CalibrationStep& lighter = *byReflectance[i];
        if (lighter.scanValue < darker.scanValue - 1.0)
            return QStringLiteral("käyrä ei ole monotoninen: askel %1 (%2) on skannauksessa tummempi kuin askel %3 "
                                  "(%4)")
                .arg(lighter.id, percentText(lighter.reflectance), darker.id, percentText(darker.reflectance));
    }
    return {};
}

QString percentText(double r) { return reportNumber(r, 1) + QStringLiteral(" %"); }

QString calibrationProblem(const QString& path, const QString& why)
{
    return QStringLiteral("Kalibrointitiedostoa %1 ei voi käyttää: %2. Tee kalibrointi uudelleen komennolla "
                          "raitakone --calibrate.")
        .arg(path, why);
}

} // namespace

std::optional<ReflectanceTable> toneCurve(const std::vector<std::pair<double, double>>& points)
{
    if (points.size() < 2)
        return std::nullopt;
    const MonotoneCubic curve(points);
    ReflectanceTable table{};
    double previous = 0.0;
    for (int v = 0; v < 256; ++v) {
        previous = std::max(previous, clampReflectance(curve.at(v)));
        table[size_t(v)] = float(previous);
    }
    return table;
}

CalibrationMade makeCalibration(const std::vector<double>& values, const StepReference& reference)
{
    CalibrationMade made;
    const size_t n = reference.steps.size();
    if (values.size() != n) {
        made.error = QStringLiteral("skannauksesta löytyi %1 askelta, mutta viitetiedostossa on %2. Skannaa koko "
                                    "askelkiila ja tarkista, että viitetiedosto kuuluu juuri tälle kiilalle")
                         .arg(values.size())
                         .arg(n);
        return made;
    }
    // Either end may come first: the pairing whose values rise with the
    // reference's reflectance.
    const auto correlation = [&](bool reversed) {
        double mx = 0, my = 0;
        for (size_t i = 0; i < n; ++i) {
            mx += values[reversed ? n - 1 - i : i];
            my += reference.steps[i].reflectance;
        }
        mx /= double(n);
        my /= double(n);
        double sxy = 0, sxx = 0, syy = 0;
        for (size_t i = 0; i < n; ++i) {
            const double dx = values[reversed ? n - 1 - i : i] - mx, dy = reference.steps[i].reflectance - my;
            sxy += dx * dy;
            sxx += dx * dx;
            syy += dy * dy;
        }
        return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
    };
    const bool reversed = correlation(true) > correlation(false);
    if (correlation(reversed) < 0.8) {
        made.error = QStringLiteral("askelten sävyt eivät seuraa viitetiedoston järjestystä kummastakaan päästä "
                                    "luettuina. Tarkista, että viitetiedosto kuuluu tälle kiilalle");
        return made;
    }
    Calibration calibration;
    for (size_t i = 0; i < n; ++i) {
        CalibrationStep step;
        step.id = reference.steps[i].id;
        step.reflectance = reference.steps[i].reflectance;
        step.scanValue = values[reversed ? n - 1 - i : i];
        step.clipped = step.scanValue <= kClippedDark || step.scanValue >= kClippedLight;
        calibration.steps.push_back(step);
    }
    if (const QString problem = monotoneProblem(calibration.steps); !problem.isEmpty()) {
        made.error = problem + QStringLiteral(". Skannaa kiila uudelleen tasaisesti valaistuna");
        return made;
    }
    if (curvePoints(calibration.steps).size() < 2) {
        made.error = QStringLiteral("vain %1 askelta jää skannerin sävyalueen sisään; muut leikkautuvat mustaan tai "
                                    "valkoiseen. Poista skannerin automaattinen tasojen säätö")
                         .arg(curvePoints(calibration.steps).size());
        return made;
    }
    calibration.table = *toneCurve(curvePoints(calibration.steps));
    // Residuals: each step against the curve made without it (ends carried
    // on along the slope), so they say how well the steps agree.
    for (size_t i = 0; i < n; ++i) {
        CalibrationStep& step = calibration.steps[i];
        const std::vector<std::pair<double, double>> others = curvePoints(calibration.steps, int(i));
        const double predicted =
            others.size() >= 2 ? clampReflectance(MonotoneCubic(others).at(step.scanValue)) : step.reflectance;
        step.residual = predicted - step.reflectance;
    }
    calibration.name = reference.name;
    calibration.created = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    made.calibration = calibration;
    return made;
}

QByteArray calibrationJson(const Calibration& calibration)
{
    const auto rounded = [](double v, int decimals) {
        const double k = std::pow(10.0, decimals);
        return std::round(v * k) / k;
    };
    QJsonArray steps;
    for (const CalibrationStep& step : calibration.steps)
        steps.append(QJsonObject{{"id", step.id},
                                 {"reflectance", rounded(step.reflectance, 3)},
                                 {"scanValue", rounded(step.scanValue, 3)},
                                 {"residual", rounded(step.residual, 3)},
                                 {"clipped", step.clipped}});
    QJsonArray curve;
    for (float r : calibration.table)
        curve.append(rounded(r, 3));
    const QJsonObject root{{"format", "raitakone-calibration"},
                           {"version", 1},
                           {"name", calibration.name},
                           {"created", calibration.created},
                           {"scan", calibration.scanFile},
                           {"reference", calibration.referenceFile},
                           {"steps", steps},
                           {"curve", curve}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

CalibrationRead readCalibration(const QString& path)
{
    CalibrationRead read;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        read.error = QStringLiteral("Kalibrointitiedostoa %1 ei voi lukea. Anna tiedosto, jonka raitakone "
                                    "--calibrate kirjoitti.")
                         .arg(path);
        return read;
    }
    if (file.size() > kMaxCalibrationBytes) {
        read.error = calibrationProblem(path, QStringLiteral("se on liian suuri ollakseen kalibrointitiedosto"));
        return read;
    }
    return parseCalibration(file.readAll(), path);
}

CalibrationRead parseCalibration(const QByteArray& json, const QString& path)
{
    CalibrationRead read;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonObject root = document.object();
    if (root.value("format").toString() != u"raitakone-calibration" || root.value("version").toInt() != 1) {
        read.error = calibrationProblem(path, QStringLiteral("se ei ole raitakoneen kalibrointitiedosto"));
        return read;
    }
    Calibration calibration;
    calibration.name = root.value("name").toString().left(120);
    calibration.created = root.value("created").toString().left(40);
    calibration.scanFile = root.value("scan").toString();
    calibration.referenceFile = root.value("reference").toString();
    for (const QJsonValue& value : root.value("steps").toArray()) {
        const QJsonObject o = value.toObject();
        CalibrationStep step;
        step.id = o.value("id").toString().left(40);
        step.reflectance = o.value("reflectance").toDouble(-1.0);
        step.scanValue = o.value("scanValue").toDouble(-1.0);
        step.residual = o.value("residual").toDouble();
        step.clipped = o.value("clipped").toBool();
        if (step.reflectance < 0.0 || step.reflectance > 120.0 || step.scanValue < 0.0 || step.scanValue > 255.0) {
            read.error = calibrationProblem(path, QStringLiteral("sen askeleen %1 arvot ovat virheellisiä").arg(step.id));
            return read;
        }
        calibration.steps.push_back(step);
    }
    // The curve is made again from the steps, the same way as when measured.
    if (const QString problem = monotoneProblem(calibration.steps); !problem.isEmpty()) {
        read.error = calibrationProblem(path, problem);
        return read;
    }
    const std::optional<ReflectanceTable> table = toneCurve(curvePoints(calibration.steps));
    if (!table) {
        read.error = calibrationProblem(path, QStringLiteral("siinä on alle kaksi käyttökelpoista askelta"));
        return read;
    }
    calibration.table = *table;
    read.calibration = calibration;
    return read;
}

} // namespace raitakone::grading
