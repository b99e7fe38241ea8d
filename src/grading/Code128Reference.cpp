#include "grading/Code128Reference.h"

#include <array>
#include <cmath>
#include <map>
#include <numeric>

namespace raitakone::grading {
namespace {

// Element widths of Code 128 values 0..106, bar first.
constexpr std::array<const char*, 107> kPatterns = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};

constexpr int kStartA = 103, kStartB = 104, kStartC = 105;
constexpr double kQuietZoneModules = 10.0;
constexpr double kBarSumTolerance = 1.75; // modules

const std::vector<std::vector<int>>& patterns()
{
    static const std::vector<std::vector<int>> table = [] {
        std::vector<std::vector<int>> all;
        for (const char* text : kPatterns) {
            std::vector<int> widths;
            for (const char* c = text; *c; ++c)
                widths.push_back(*c - '0');
            all.push_back(widths);
        }
        return all;
    }();
    return table;
}

using EValues = std::array<int, 4>;

EValues eValues(const std::vector<int>& modules)
{
    return {modules[0] + modules[1], modules[1] + modules[2], modules[2] + modules[3], modules[3] + modules[4]};
}

// Values 0..106 by their e-values; the stop character by the e-values of its
// first six elements. Characters sharing e-values are told apart by their bars.
const std::multimap<EValues, int>& valuesByE()
{
    static const std::multimap<EValues, int> map = [] {
        std::multimap<EValues, int> m;
        for (int value = 0; value < int(kPatterns.size()); ++value)
            m.emplace(eValues(patterns()[size_t(value)]), value);
        return m;
    }();
    return map;
}

// A measurement in modules against the thresholds at every half module: its
// whole number of modules and its margin to the nearer threshold, in half
// modules (1 when it lies exactly on a whole number).
struct Measured {
    int modules;
    double margin;
};

Measured measure(double inModules)
{
    const double whole = std::round(inModules);
    return {int(whole), 1.0 - 2.0 * std::fabs(inModules - whole)};
}

} // namespace

const std::vector<int>& code128Pattern(int value) { return patterns().at(size_t(value)); }

CharacterDecode decodeCharacter(const double* widths, int count)
{
    CharacterDecode result;
    if (count != 6 && count != 7)
        return result;
    const double p = std::accumulate(widths, widths + 6, 0.0);
    if (p <= 0.0)
        return result;
    const double module = p / 11.0;

    EValues e{};
    double margin = 1.0;
    for (int i = 0; i < 4; ++i) {
        const Measured m = measure((widths[i] + widths[i + 1]) / module);
        e[size_t(i)] = m.modules;
        margin = std::min(margin, m.margin);
    }

    // The value whose e-values these are; where two share them, the one
    // whose bar total is nearer the measured one.
    const double bars = (widths[0] + widths[2] + widths[4]) / module;
    const auto [first, last] = valuesByE().equal_range(e);
    double bestMismatch = 1e9;
    for (auto it = first; it != last; ++it) {
        const std::vector<int>& pattern = patterns()[size_t(it->second)];
        if ((count == 7) != (it->second == kCode128Stop))
            continue;
        const double mismatch = std::fabs(bars - (pattern[0] + pattern[2] + pattern[4]));
        if (mismatch < bestMismatch) {
            bestMismatch = mismatch;
            result.value = it->second;
            result.modules = pattern;
        }
    }
    // The self-check: (V - 1.75) p/11 < b1 + b2 + b3 < (V + 1.75) p/11, V the
    // value's bar modules. A single one-module edge error changes the bar
    // total by an odd number of modules and fails it.
    result.barSum = result.value >= 0 && bestMismatch < kBarSumTolerance;
    // The stop's terminating bar is a bar width, which ink spread changes as
    // it changes the bar sum: within a module of its two, it is no other bar.
    if (result.value >= 0 && count == 7)
        result.lastBar = std::fabs(widths[6] / module - result.modules[6]) < 1.0;
    if (result.value >= 0 && result.barSum && result.lastBar)
        result.decodability = std::max(0.0, margin);
    return result;
}

ReferenceDecode referenceDecode(const std::vector<double>& elements, double leadingQuiet, double trailingQuiet)
{
    ReferenceDecode result;
    const size_t n = elements.size();
    if (n < 6 * 3 + 7 || (n - 7) % 6 != 0) {
        result.failure = "elementtien määrä " + std::to_string(n) + " ei sovi Code 128 -merkkeihin";
        return result;
    }
    double decodability = 1.0;
    std::string barFailure;
    for (size_t at = 0; at < n; at += 6) {
        const int count = (at + 7 == n) ? 7 : 6;
        const CharacterDecode c = decodeCharacter(&elements[at], count);
        const std::string character = "merkki " + std::to_string(at / 6 + 1);
        if (c.value < 0) {
            result.failure = character + " ei tulkitu";
            result.elementModules.clear();
            return result;
        }
        if (!c.barSum && barFailure.empty())
            barFailure = character + ": palkkien yhteisleveys poikkeaa yli 1,75 moduulia";
        if (!c.lastBar && barFailure.empty())
            barFailure = "lopetusmerkin viimeinen palkki ei ole noin 2 moduulia";
        result.values.push_back(c.value);
        result.elementModules.insert(result.elementModules.end(), c.modules.begin(), c.modules.end());
        decodability = std::min(decodability, c.decodability);
        if (count == 7)
            break;
    }
    if (!barFailure.empty()) {
        result.failure = barFailure;
        return result;
    }

    const std::vector<int>& v = result.values;
    if (v.front() < kStartA || v.front() > kStartC) {
        result.failure = "aloitusmerkki puuttuu";
        return result;
    }
    if (v.back() != kCode128Stop) {
        result.failure = "lopetusmerkki puuttuu";
        return result;
    }
    for (size_t i = 1; i + 1 < v.size(); ++i)
        if (v[i] >= kStartA) {
            result.failure = "aloitus- tai lopetusmerkki keskellä symbolia";
            return result;
        }
    long sum = v.front();
    for (size_t i = 1; i + 2 < v.size(); ++i)
        sum += long(i) * v[i];
    if (sum % 103 != v[v.size() - 2]) {
        result.failure = "tarkistusmerkki ei täsmää";
        return result;
    }

    const double totalModules = std::accumulate(result.elementModules.begin(), result.elementModules.end(), 0.0);
    const double module = std::accumulate(elements.begin(), elements.end(), 0.0) / totalModules;
    const double quietZone = kQuietZoneModules * module * (1.0 - 1e-9); // exactly ten modules is enough
    if (leadingQuiet < quietZone || trailingQuiet < quietZone) {
        result.failure = "hiljainen alue alle 10 moduulia";
        return result;
    }

    result.decoded = true;
    result.decodability = decodability;
    result.text = code128Text(v);
    return result;
}

int characterEnds(const std::vector<double>& elements)
{
    if (elements.size() < 7)
        return 0;
    const int first = decodeCharacter(elements.data(), 6).value;
    const int last = decodeCharacter(elements.data() + elements.size() - 7, 7).value;
    return int(first >= kStartA && first <= kStartC) + int(last == kCode128Stop);
}

bool hasStartOrStop(const std::vector<double>& elements) { return characterEnds(elements) > 0; }

std::string code128Text(const std::vector<int>& values)
{
    std::string text;
    if (values.size() < 3)
        return text;
    enum class Set { A, B, C };
    Set set = values.front() == kStartA ? Set::A : values.front() == kStartB ? Set::B : Set::C;
    bool shift = false;
    for (size_t i = 1; i + 2 < values.size(); ++i) {
        const int v = values[i];
        const Set now = shift ? (set == Set::A ? Set::B : Set::A) : set;
        shift = false;
        if (now == Set::C) {
            if (v < 100) {
                text += char('0' + v / 10);
                text += char('0' + v % 10);
            } else if (v == 100) {
                set = Set::B;
            } else if (v == 101) {
                set = Set::A;
            }
            continue;
        }
        if (v < 96) {
            if (now == Set::B)
                text += char(32 + v);
            else
                text += char(v < 64 ? 32 + v : v - 64);
        } else if (v == 98) {
            shift = true;
        } else if (v == 99) {
            set = Set::C;
        } else if (v == 100 && now == Set::A) {
            set = Set::B;
        } else if (v == 101 && now == Set::B) {
            set = Set::A;
        }
    }
    return text;
}

} // namespace raitakone::grading
