// The Code 128 reference decode on element widths given directly.

#include "grading/Code128Reference.h"
#include "pattern/BarPattern.h"
#include "support/Decode.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

using namespace raitakone;
using namespace raitakone::grading;

namespace {

// The pattern's elements in modules, first bar to last.
std::vector<double> patternElements()
{
    std::vector<double> elements;
    for (size_t i = 0, j = 0; i < kBarPattern.size(); i = j) {
        while (j < kBarPattern.size() && kBarPattern[j] == kBarPattern[i])
            ++j;
        elements.push_back(double(j - i));
    }
    return elements;
}

ReferenceDecode decoded(const std::function<void(std::vector<double>&)>& change, double leading, double trailing)
{
    std::vector<double> elements = patternElements();
    change(elements);
    return referenceDecode(elements, leading, trailing);
}

} // namespace

TEST(Code128Reference, EveryCharacterIsElevenModulesWithAnEvenNumberOfBarModules)
{
    for (int value = 0; value <= kCode128Stop; ++value) {
        const std::vector<int>& p = code128Pattern(value);
        ASSERT_EQ(p.size(), value == kCode128Stop ? 7u : 6u) << value;
        EXPECT_EQ(std::accumulate(p.begin(), p.end(), 0), value == kCode128Stop ? 13 : 11) << value;
        EXPECT_EQ((p[0] + p[2] + p[4]) % 2, 0) << value;
    }
    // Start B "Ab", Code C "1234", Code A, TAB; then Start A with a shift to B.
    EXPECT_EQ(code128Text({104, 33, 66, 99, 12, 34, 101, 73, 0, 106}), "Ab1234\t");
    EXPECT_EQ(code128Text({103, 33, 98, 65, 33, 0, 106}), "AaA");
}

TEST(Code128Reference, ChangedElementsDecodeWithTheirMarginOrFailTheDecode)
{
    const struct {
        const char* what;
        std::function<void(std::vector<double>&)> change;
        double decodability = 0.0; // 0: the decode fails
        const char* failure = "";
        double leading = 10.0, trailing = 10.0;
    } cases[] = {
        {"as printed", [](auto&) {}, 1.0},
        // The spaces of e1..e4 0.2 module wider, the last 0.4 narrower: every measurement 0.2 module off.
        {"first data character", [](auto& e) { e[7] += 0.2, e[9] += 0.2, e[11] -= 0.4; }, 0.6},
        {"check character", [](auto& e) { e[169] += 0.2, e[171] += 0.2, e[173] -= 0.4; }, 0.6},
        // Every bar 0.56 module wider: each would round up, yet three bars stay within 1.75 modules of their sum.
        {"bars 0.56 wider", [](auto& e) { for (size_t k = 0; k + 1 < e.size(); k += 2) e[k] += 0.56, e[k + 1] -= 0.56; },
         1.0},
        {"bars 0.6 wider", [](auto& e) { for (size_t k = 18; k < 24; k += 2) e[k] += 0.6, e[k + 1] -= 0.6; }, 0.0,
         "1,75"},
        {"swapped data", [](auto& e) { std::copy_n(code128Pattern(42).begin(), 6, e.begin() + 30); }, 0.0,
         "tarkistusmerkki"},
        {"past half a module", [](auto& e) { e[7] += 0.6, e[11] -= 0.6; }},
        {"bar 40 removed", [](auto& e) { e[39] += e[40] + e[41], e.erase(e.begin() + 40, e.begin() + 42); }},
        {"reversed", [](auto& e) { std::reverse(e.begin(), e.end()); }},
        {"leading quiet zone", [](auto&) {}, 0.0, "", 9.8},
        {"trailing quiet zone", [](auto&) {}, 0.0, "", 10.0, 9.8},
    };
    const std::vector<double> elements = patternElements();
    for (const auto& c : cases) {
        const ReferenceDecode d = decoded(c.change, c.leading, c.trailing);
        ASSERT_EQ(d.decoded, c.decodability > 0.0) << c.what << ": " << d.failure;
        if (d.decoded) {
            EXPECT_EQ(d.text, raitakone::testing::kPatternDigits) << c.what;
            EXPECT_NEAR(d.decodability, c.decodability, 1e-9) << c.what;
            EXPECT_EQ(d.elementModules, std::vector<int>(elements.begin(), elements.end())) << c.what;
        } else {
            EXPECT_NE(d.failure.find(c.failure), std::string::npos) << c.what << ": " << d.failure;
            // Where a later check fails, every character still names its modules.
            EXPECT_TRUE(!*c.failure || d.elementModules.size() == elements.size()) << c.what;
        }
    }
}
