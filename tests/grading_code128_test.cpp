// The Code 128 reference decode on element widths given directly: the
// table, the thresholds and margins, the checks that make a decode fail.

#include "grading/Code128Reference.h"
#include "pattern/BarPattern.h"
#include "support/Decode.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace raitakone;
using namespace raitakone::grading;

namespace {

// The pattern's elements in modules, first bar to last.
std::vector<double> patternElements()
{
    std::vector<double> elements;
    for (size_t i = 0; i < kBarPattern.size();) {
        size_t j = i;
        while (j < kBarPattern.size() && kBarPattern[j] == kBarPattern[i])
            ++j;
        elements.push_back(double(j - i));
        i = j;
    }
    return elements;
}

ReferenceDecode decodeWithQuietZones(const std::vector<double>& elements) { return referenceDecode(elements, 10.5, 10.5); }

} // namespace

TEST(Code128Reference, EveryCharacterIsElevenModulesWithAnEvenNumberOfBarModules)
{
    for (int value = 0; value <= kCode128Stop; ++value) {
        const std::vector<int>& p = code128Pattern(value);
        ASSERT_EQ(p.size(), value == kCode128Stop ? 7u : 6u) << value;
        EXPECT_EQ(std::accumulate(p.begin(), p.end(), 0), value == kCode128Stop ? 13 : 11) << value;
        int bars = 0;
        for (size_t i = 0; i < p.size(); i += 2)
            bars += p[i];
        EXPECT_EQ(bars % 2, 0) << value;
    }
}

TEST(Code128Reference, ThePagesSymbolDecodesToItsDigitsWithFullMargins)
{
    const std::vector<double> elements = patternElements();
    ASSERT_EQ(elements.size(), 6u * 29u + 7u);
    for (double scale : {1.0, 0.0254 * 7}) { // in modules, then in millimetres
        std::vector<double> scaled = elements;
        for (double& e : scaled)
            e *= scale;
        const ReferenceDecode d = referenceDecode(scaled, 10.0 * scale, 10.0 * scale);
        ASSERT_TRUE(d.decoded) << d.failure;
        EXPECT_EQ(d.text, raitakone::testing::kPatternDigits);
        EXPECT_NEAR(d.decodability, 1.0, 1e-9);
        EXPECT_EQ(d.values.front(), 105); // Start C
        std::vector<int> modules(elements.begin(), elements.end());
        EXPECT_EQ(d.elementModules, modules);
    }
}

TEST(Code128Reference, DecodabilityIsTheSmallestMarginInHalfModules)
{
    // Both spaces between e1..e4 0.2 module wider, the last space 0.4
    // narrower: every edge-to-similar-edge measurement of the character is
    // 0.2 module long and the character keeps its width.
    for (size_t character : {1u, 14u, 28u}) {
        std::vector<double> elements = patternElements();
        const size_t at = 6 * character;
        elements[at + 1] += 0.2;
        elements[at + 3] += 0.2;
        elements[at + 5] -= 0.4;
        const ReferenceDecode d = decodeWithQuietZones(elements);
        ASSERT_TRUE(d.decoded) << d.failure;
        EXPECT_NEAR(d.decodability, 0.6, 1e-9) << character;
    }
    // Past half a module the measurement names another character.
    std::vector<double> elements = patternElements();
    elements[7] += 0.6;
    elements[11] -= 0.6;
    EXPECT_FALSE(decodeWithQuietZones(elements).decoded);
}

TEST(Code128Reference, BarsSpreadPastHalfAModuleFailTheParityButKeepTheModules)
{
    // Every bar of one character 0.7 module wider, its spaces narrower: the
    // e-values stay, each bar rounds one module up and three odd steps make
    // the bar total odd.
    std::vector<double> elements = patternElements();
    const size_t at = 6 * 3;
    for (size_t k = 0; k < 6; k += 2) {
        elements[at + k] += 0.7;
        elements[at + k + 1] -= 0.7;
    }
    const ReferenceDecode d = decodeWithQuietZones(elements);
    EXPECT_FALSE(d.decoded);
    EXPECT_NE(d.failure.find("pariton"), std::string::npos) << d.failure;
    EXPECT_EQ(d.elementModules.size(), elements.size());

    // 0.3 module is within the rounding.
    std::vector<double> slight = patternElements();
    for (size_t k = 0; k + 1 < slight.size(); k += 2) {
        slight[k] += 0.3;
        slight[k + 1] -= 0.3;
    }
    slight.back() += 0.3;
    const ReferenceDecode s = decodeWithQuietZones(slight);
    EXPECT_TRUE(s.decoded) << s.failure;
    EXPECT_GT(s.decodability, 0.99);
}

TEST(Code128Reference, ChecksThatFailTheDecode)
{
    const std::vector<double> good = patternElements();

    // One bar removed: it and its neighbouring spaces become one space.
    std::vector<double> removed = good;
    const size_t bar = 40;
    removed[bar - 1] += removed[bar] + removed[bar + 1];
    removed.erase(removed.begin() + long(bar), removed.begin() + long(bar) + 2);
    EXPECT_FALSE(decodeWithQuietZones(removed).decoded);

    // A data character swapped for another valid one: the check character
    // no longer matches.
    std::vector<double> swapped = good;
    const std::vector<int>& other = code128Pattern(42);
    for (size_t k = 0; k < 6; ++k)
        swapped[6 * 5 + k] = other[k];
    const ReferenceDecode s = decodeWithQuietZones(swapped);
    EXPECT_FALSE(s.decoded);
    EXPECT_NE(s.failure.find("tarkistusmerkki"), std::string::npos) << s.failure;

    // Quiet zones of ten modules are needed, on both sides.
    EXPECT_TRUE(referenceDecode(good, 10.0, 10.0).decoded);
    EXPECT_FALSE(referenceDecode(good, 9.8, 10.0).decoded);
    EXPECT_FALSE(referenceDecode(good, 10.0, 9.8).decoded);

    // The symbol read backwards has no start character where it begins.
    std::vector<double> reversed(good.rbegin(), good.rend());
    EXPECT_FALSE(decodeWithQuietZones(reversed).decoded);
}

TEST(Code128Reference, TextOfTheCodeSets)
{
    // Start B "Ab", Code C "1234", Code A, a control character (value 64 + 9 = TAB).
    const std::vector<int> values{104, 33, 66, 99, 12, 34, 101, 73, 0, 106};
    EXPECT_EQ(code128Text(values), "Ab1234\t");
    // Start A, shift to B for one character.
    EXPECT_EQ(code128Text({103, 33, 98, 65, 33, 0, 106}), "AaA");
}
