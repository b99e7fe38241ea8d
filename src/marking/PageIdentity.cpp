#include "marking/PageIdentity.h"

#include "printing/PrinterSelection.h"
#include "surface/Paper.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <charconv>
#include <cstdio>
#include <map>
#include <sstream>

namespace raitakone::marking {
namespace {

std::string escaped(const std::string& value)
{
    std::string out;
    for (char c : value) {
        switch (c) {
        case ';': out += "%3B"; break;
        case '=': out += "%3D"; break;
        case '%': out += "%25"; break;
        default: out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        const std::string code = value.substr(i + 1, 2);
        if (code == "3B") out += ';';
        else if (code == "3D") out += '=';
        else if (code == "25") out += '%';
        else return std::nullopt;
        i += 2;
    }
    return out;
}

// The payload's numbers are in the C locale's form, whoever prints or reads it.
std::string number(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

std::optional<double> positiveNumber(const std::string& text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value > 0 && std::isfinite(value))
        return value;
    return std::nullopt;
}

// "210x297" -> 210, 297.
std::optional<std::pair<double, double>> pairOf(const std::string& text)
{
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return std::nullopt;
    const auto a = positiveNumber(text.substr(0, x));
    const auto b = positiveNumber(text.substr(x + 1));
    if (!a || !b)
        return std::nullopt;
    return std::pair{*a, *b};
}

// The mark's numbers as the program prints them; anything else is forged or damaged.
constexpr double kMinMarkDpi = 50;
constexpr double kMaxMarkDpi = 10000;
constexpr size_t kMaxRungs = 32;
constexpr int kMaxRungReduction = 64;
constexpr size_t kMaxTextBytes = 256;

bool within(double value, double low, double high) { return value >= low && value <= high; }

// "7" or "3/20": a page's number in the window's session or in a series.
bool pageNumber(const std::string& n)
{
    const size_t slash = n.find('/');
    const auto number = [](const std::string& digits) {
        return !digits.empty() && digits.size() <= 6 && digits.find_first_not_of("0123456789") == std::string::npos &&
               digits.find_first_not_of('0') != std::string::npos;
    };
    return number(n.substr(0, slash)) && (slash == std::string::npos || number(n.substr(slash + 1)));
}

// The text without control characters (C0, DEL and C1: a mark's text may be
// written to a terminal), at most kMaxTextBytes long, cut between characters.
std::string withoutControls(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            continue;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        out += char(c);
    }
    if (out.size() > kMaxTextBytes) {
        size_t cut = kMaxTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    return out;
}

std::optional<std::vector<int>> rungList(const std::string& text)
{
    std::vector<int> rungs;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        try {
            size_t used = 0;
            rungs.push_back(std::stoi(item, &used));
            if (used != item.size())
                return std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return rungs;
}

} // namespace

std::string dpiField(double dpiX, double dpiY) { return number(dpiX) + "x" + number(dpiY); }

std::string markPayload(const PageIdentity& page)
{
    std::string text = std::string(kMarkVersion) + ";page=" + escaped(page.control) +
                       ";caption=" + escaped(page.caption) + ";printer=" + escaped(page.printer) +
                       ";dpi=" + dpiField(page.dpiX, page.dpiY) + ";paper=" + std::to_string(page.paperWidthMm) +
                       "x" + std::to_string(page.paperHeightMm) + ";time=" + escaped(page.time) +
                       ";series=" + escaped(page.series) + ";n=" + escaped(page.n);
    if (!page.rungs.empty()) {
        text += ";k=";
        for (size_t i = 0; i < page.rungs.size(); ++i)
            text += (i ? "," : "") + std::to_string(page.rungs[i]);
    }
    return text;
}

MarkCheck checkMarkPayload(const std::string& payload)
{
    MarkCheck check;
    const auto refuse = [&check](const std::string& why) {
        check.problem = "Skannauksessa oleva sivun merkintä jätettiin huomiotta: " + why + ".";
        return check;
    };
    std::stringstream in(payload);
    std::string field;
    if (!std::getline(in, field, ';') || field != kMarkVersion)
        return check;
    std::map<std::string, std::string> fields;
    while (std::getline(in, field, ';')) {
        const size_t equals = field.find('=');
        if (equals == std::string::npos)
            return refuse("sen kenttä ei ole muotoa nimi=arvo");
        const std::optional<std::string> value = unescaped(field.substr(equals + 1));
        if (!value)
            return refuse("sen kentässä on vioittunut merkki");
        fields[field.substr(0, equals)] = withoutControls(*value);
    }
    for (const char* required : {"page", "printer", "dpi", "paper", "time", "series", "n"})
        if (!fields.contains(required))
            return refuse(std::string("siitä puuttuu kenttä ") + required);
    const auto dpi = pairOf(fields["dpi"]);
    if (!dpi || !within(dpi->first, kMinMarkDpi, kMaxMarkDpi) || !within(dpi->second, kMinMarkDpi, kMaxMarkDpi))
        return refuse("sen tarkkuus \"" + fields["dpi"] + "\" ei ole 50–10 000 dpi");
    const auto paper = pairOf(fields["paper"]);
    if (!paper || !within(paper->first, kSmallestPaperSideMm, kLargestPaperSideMm) ||
        !within(paper->second, kSmallestPaperSideMm, kLargestPaperSideMm))
        return refuse("sen paperi \"" + fields["paper"] + "\" ei ole 10–1000 mm kummaltakin sivultaan");
    if (!pageNumber(fields["n"]))
        return refuse("sen sivunumero \"" + fields["n"] + "\" ei ole muotoa 3 tai 3/20");
    PageIdentity page;
    page.control = fields["page"];
    page.caption = fields["caption"];
    page.printer = fields["printer"];
    page.dpiX = dpi->first;
    page.dpiY = dpi->second;
    page.paperWidthMm = int(std::lround(paper->first));
    page.paperHeightMm = int(std::lround(paper->second));
    page.time = fields["time"];
    page.series = fields["series"];
    page.n = fields["n"];
    if (fields.contains("k")) {
        const auto rungs = rungList(fields["k"]);
        if (page.control != "ladder")
            return refuse("sen sivu " + page.control + " ei ole kavennustikkaat, mutta sillä on askelmia");
        if (!rungs || rungs->empty() || rungs->size() > kMaxRungs ||
            std::any_of(rungs->begin(), rungs->end(), [](int k) { return std::abs(k) > kMaxRungReduction; }))
            return refuse("sen askelmat \"" + fields["k"] + "\" eivät ole kavennustikkaiden askelmia");
        page.rungs = *rungs;
    }
    check.page = page;
    return check;
}

std::optional<PageIdentity> parseMarkPayload(const std::string& payload) { return checkMarkPayload(payload).page; }

std::vector<std::string> markTextParts(const PageIdentity& page)
{
    const QDateTime time = QDateTime::fromString(QString::fromStdString(page.time), Qt::ISODate);
    const std::string when =
        time.isValid() ? time.toString(QStringLiteral("d.M.yyyy H.mm")).toStdString() : page.time;
    // The ladder is known by its caption alone; its control name is the program's own word.
    return {page.control == "ladder" ? page.caption : page.caption + " · " + page.control,
            page.printer,
            resolutionText(page.dpiX, page.dpiY),
            std::to_string(page.paperWidthMm) + " × " + std::to_string(page.paperHeightMm) + " mm",
            when,
            page.n};
}

std::string newSeriesId()
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", QRandomGenerator::system()->generate());
    return text;
}

} // namespace raitakone::marking
