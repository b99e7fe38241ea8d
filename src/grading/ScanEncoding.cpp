#include "grading/ScanEncoding.h"

#include "grading/GradeReport.h"
#include "grading/Grading.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace raitakone::grading {
namespace {

// A profile comes from the file, so LittleCMS's complaints about it are
// answers, not messages for the terminal.
void silent(cmsContext, cmsUInt32Number, const char*) {}

struct ContextCloser {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
using Context = std::unique_ptr<std::remove_pointer_t<cmsContext>, ContextCloser>;
struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(cmsHPROFILE(profile)); }
};
struct TransformCloser {
    void operator()(void* transform) const { cmsDeleteTransform(cmsHTRANSFORM(transform)); }
};
struct CurveCloser {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};

ReflectanceTable tableOf(const cmsToneCurve* curve)
{
    ReflectanceTable table{};
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = 100.0f * std::clamp(cmsEvalToneCurveFloat(curve, float(v) / 255.0f), 0.0f, 1.0f);
    return table;
}

QString profileName(cmsHPROFILE profile)
{
    char text[256] = {};
    if (cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text) == 0)
        return {};
    return QString::fromLatin1(text).trimmed().left(80);
}

// Equal values in every channel through the whole profile into linear grey
// (D50, gamma 1): for a profile built from tables rather than curves.
std::optional<ReflectanceTable> throughTransform(cmsContext context, cmsHPROFILE profile, bool grey)
{
    std::unique_ptr<cmsToneCurve, CurveCloser> linear(cmsBuildGamma(context, 1.0));
    std::unique_ptr<void, ProfileCloser> target(cmsCreateGrayProfileTHR(context, cmsD50_xyY(), linear.get()));
    if (!target)
        return std::nullopt;
    std::unique_ptr<void, TransformCloser> transform(cmsCreateTransformTHR(
        context, profile, grey ? TYPE_GRAY_8 : TYPE_RGB_8, target.get(), TYPE_GRAY_DBL, INTENT_RELATIVE_COLORIMETRIC,
        cmsFLAGS_NOCACHE));
    if (!transform)
        return std::nullopt;
    ReflectanceTable table{};
    for (int v = 0; v < 256; ++v) {
        const cmsUInt8Number in[3] = {cmsUInt8Number(v), cmsUInt8Number(v), cmsUInt8Number(v)};
        double out = 0.0;
        cmsDoTransform(transform.get(), in, &out, 1);
        table[size_t(v)] = float(std::clamp(out, 0.0, 1.0) * 100.0);
    }
    return table;
}

std::optional<ScanEncoding> fromProfile(const QByteArray& data)
{
    Context context(cmsCreateContext(nullptr, nullptr));
    if (!context)
        return std::nullopt;
    cmsSetLogErrorHandlerTHR(context.get(), silent);
    std::unique_ptr<void, ProfileCloser> profile(
        cmsOpenProfileFromMemTHR(context.get(), data.constData(), cmsUInt32Number(data.size())));
    if (!profile)
        return std::nullopt;
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    if (space != cmsSigGrayData && space != cmsSigRgbData)
        return std::nullopt;
    const bool grey = space == cmsSigGrayData;
    ScanEncoding encoding;
    encoding.source = ReflectanceSource::Icc;
    encoding.description = profileName(profile.get());
    // ICC: a grey profile's grayTRC and an RGB matrix/TRC profile's rTRC give
    // the channel's linear value (its share of the PCS Y) directly.
    const auto* curve = static_cast<const cmsToneCurve*>(
        cmsReadTag(profile.get(), grey ? cmsSigGrayTRCTag : cmsSigRedTRCTag));
    if (curve && (grey || cmsIsMatrixShaper(profile.get()))) {
        encoding.table = tableOf(curve);
        return encoding;
    }
    const std::optional<ReflectanceTable> table = throughTransform(context.get(), profile.get(), grey);
    if (!table)
        return std::nullopt;
    encoding.table = *table;
    return encoding;
}

} // namespace

const char* reflectanceSourceName(ReflectanceSource source)
{
    switch (source) {
    case ReflectanceSource::Icc:
        return "icc";
    case ReflectanceSource::Calibration:
        return "calibration";
    case ReflectanceSource::Linear:
        return "linear";
    case ReflectanceSource::Srgb:
        break;
    }
    return "srgb";
}

ReflectanceTable ScanEncoding::srgbTable()
{
    ReflectanceTable table{};
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = float(srgbToReflectance(v));
    return table;
}

ReflectanceTable ScanEncoding::linearTable()
{
    ReflectanceTable table{};
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = float(v * 100.0 / 255.0);
    return table;
}

ScanEncoding encodingFromFile(const StatedEncoding& stated)
{
    ScanEncoding encoding;
    if (!stated.iccProfile.isEmpty()) {
        if (std::optional<ScanEncoding> icc = fromProfile(stated.iccProfile))
            return *icc;
        encoding.description = QStringLiteral("upotettua ICC-profiilia ei voitu lukea; luettiin sRGB:nä");
        return encoding;
    }
    if (stated.srgb) {
        encoding.description = QStringLiteral("PNG:n sRGB-merkintä");
        return encoding;
    }
    // PNG: gAMA holds the encoding exponent, so linear = encoded ^ (1 / gamma).
    if (stated.gamma && *stated.gamma > 0.05 && *stated.gamma < 5.0) {
        std::unique_ptr<cmsToneCurve, CurveCloser> curve(cmsBuildGamma(nullptr, 1.0 / *stated.gamma));
        if (curve) {
            encoding.source = ReflectanceSource::Icc;
            encoding.table = tableOf(curve.get());
            encoding.description =
                QStringLiteral("PNG:n gAMA, gamma %1").arg(reportNumber(1.0 / *stated.gamma, 2));
        }
    }
    return encoding;
}

} // namespace raitakone::grading
