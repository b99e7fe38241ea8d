#include "grading/StepReference.h"

#include "surface/NumberText.h"

#include <QStringList>

#include <cmath>

namespace raitakone::grading {
namespace {

// A CGATS reference for a step target is a few kilobytes.
constexpr qint64 kMaxReferenceBytes = 4 << 20;

// Whitespace-separated tokens; a quoted string is one token; # starts a
// comment outside quotes.
std::vector<QString> tokensOf(const QString& line)
{
    std::vector<QString> tokens;
    QString current;
    bool quoted = false, inToken = false;
    for (QChar c : line) {
        if (quoted) {
            if (c == u'"')
                quoted = false;
            else
                current += c;
            continue;
        }
        if (c == u'"') {
            quoted = inToken = true;
        } else if (c == u'#') {
            break;
        } else if (c.isSpace()) {
            if (inToken)
                tokens.push_back(current);
            current.clear();
            inToken = false;
        } else {
            current += c;
            inToken = true;
        }
    }
    if (inToken)
        tokens.push_back(current);
    return tokens;
}

std::optional<double> numberOf(const QString& token)
{
    return parseDecimal(token.toStdString());
}

} // namespace

ReferenceRead readStepReference(const QByteArray& text)
{
    ReferenceRead read;
    if (text.size() > kMaxReferenceBytes) {
        read.error = QStringLiteral("viitetiedosto on liian suuri ollakseen askelkiilan CGATS-tiedosto");
        return read;
    }
    StepReference reference;
    QString descriptor, originator;
    std::vector<QString> fields, data;
    enum { Keywords, Format, Data } state = Keywords;
    bool sawFormat = false, sawData = false;
    for (const QString& line : QString::fromUtf8(text).split(u'\n')) {
        const std::vector<QString> tokens = tokensOf(line);
        if (tokens.empty())
            continue;
        const QString key = tokens.front().toUpper();
        if (state == Format) {
            if (key == u"END_DATA_FORMAT")
                state = Keywords;
            else
                fields.insert(fields.end(), tokens.begin(), tokens.end());
        } else if (state == Data) {
            if (key == u"END_DATA")
                state = Keywords;
            else
                data.insert(data.end(), tokens.begin(), tokens.end());
        } else if (key == u"BEGIN_DATA_FORMAT") {
            state = Format;
            sawFormat = true;
        } else if (key == u"BEGIN_DATA") {
            state = Data;
            sawData = true;
        } else if (key == u"DESCRIPTOR" && tokens.size() > 1) {
            descriptor = tokens[1];
        } else if (key == u"ORIGINATOR" && tokens.size() > 1) {
            originator = tokens[1];
        }
    }
    if (!sawFormat || !sawData || fields.empty()) {
        read.error = QStringLiteral("viitetiedosto ei ole CGATS-muotoa: siitä puuttuu BEGIN_DATA_FORMAT- tai "
                                    "BEGIN_DATA-osa");
        return read;
    }
    const auto field = [&](const char* name) -> int {
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    };
    const int id = field("SAMPLE_ID");
    int value = field("D_RED");
    bool density = true;
    if (value < 0) {
        value = field("XYZ_Y");
        density = false;
    }
    if (value < 0) {
        value = field("D_VIS");
        density = true;
    }
    if (id < 0 || value < 0) {
        read.error = QStringLiteral("viitetiedostosta puuttuu kenttä SAMPLE_ID tai heijastavuus (XYZ_Y) tai tiheys "
                                    "(D_RED tai D_VIS)");
        return read;
    }
    if (data.size() % fields.size() != 0) {
        read.error = QStringLiteral("viitetiedoston BEGIN_DATA-osan arvoja ei voi jakaa %1 kentän riveiksi")
                         .arg(fields.size());
        return read;
    }
    for (size_t at = 0; at < data.size(); at += fields.size()) {
        const QString& given = data[at + size_t(value)];
        const std::optional<double> number = numberOf(given);
        if (!number) {
            read.error = QStringLiteral("viitetiedoston askeleen %1 arvo »%2« ei ole luku")
                             .arg(data[at + size_t(id)], given.left(40));
            return read;
        }
        // CGATS.17: densities are -log10 of the reflectance factor.
        const double reflectance = density ? 100.0 * std::pow(10.0, -*number) : *number;
        reference.steps.push_back({data[at + size_t(id)].left(40), reflectance});
    }
    if (reference.steps.size() < size_t(kMinSteps)) {
        read.error = QStringLiteral("viitetiedostossa on vain %1 askelta; kalibrointi tarvitsee vähintään %2")
                         .arg(reference.steps.size())
                         .arg(kMinSteps);
        return read;
    }
    reference.name = (descriptor.isEmpty() ? originator : descriptor).left(120);
    read.reference = reference;
    return read;
}

} // namespace raitakone::grading
