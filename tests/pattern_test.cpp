#include "arithmetic/Arithmetic.h"
#include "pattern/BarPattern.h"
#include "surface/RuntimeError.h"
#include "support/Decode.h"
#include "support/PageProbe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace raitakone {
namespace {

// The Code 128 symbol character table: value -> bar/space widths (6 elements,
// 11 modules). Written out independently of the pattern so that a mistyped
// module in the constant shows up as an unknown or wrong character.
const char* const kCode128Widths[] = {
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
    "114131", "311141", "411131", "211412", "211214", "211232"};

std::string modulesOf(const std::string& widths)
{
    std::string modules;
    for (size_t k = 0; k < widths.size(); ++k)
        modules.append(size_t(widths[k] - '0'), k % 2 == 0 ? '1' : '0');
    return modules;
}

int valueOf(const std::string& modules)
{
    for (int v = 0; v < 106; ++v)
        if (modulesOf(kCode128Widths[v]) == modules)
            return v;
    return -1;
}

TEST(BarPattern, IsACompleteCode128SetCSymbol)
{
    const std::string pattern(kBarPattern);
    ASSERT_EQ(pattern.size(), 332u);

    std::vector<int> values;
    for (size_t at = 0; at + 11 <= 319; at += 11)
        values.push_back(valueOf(pattern.substr(at, 11)));
    ASSERT_EQ(values.size(), 29u); // start, 27 data, check
    EXPECT_EQ(values.front(), 105) << "Start C";
    EXPECT_EQ(pattern.substr(319), "1100011101011") << "Stop";

    long weighted = values[0];
    std::string digits;
    for (size_t k = 1; k <= 27; ++k) {
        ASSERT_GE(values[k], 0) << "symbol character " << k << " is not a Code 128 character";
        ASSERT_LT(values[k], 100) << "symbol character " << k << " is not a set C digit pair";
        weighted += long(k) * values[k];
        digits += std::to_string(values[k] / 10) + std::to_string(values[k] % 10);
    }
    EXPECT_EQ(values[28], 11);
    EXPECT_EQ(weighted % 103, values[28]) << "check character";
    EXPECT_EQ(digits, testing::kPatternDigits);
}

TEST(BarPattern, HasHalfItsModulesDarkIn91Bars)
{
    int dark = 0, bars = 0;
    for (int i = 1; i <= kModuleCount; ++i) {
        dark += isDark(i);
        bars += isDark(i) && (i == 1 || !isDark(i - 1));
    }
    EXPECT_EQ(dark, 166);
    EXPECT_EQ(bars, 91);
    EXPECT_TRUE(isDark(1));
    EXPECT_TRUE(isDark(kModuleCount));
}

TEST(BarPattern, DecodesWithAnIndependentReader)
{
    // Three pixels a module, drawn straight from the string.
    const int w = 3, quiet = 30;
    PageRaster page(kModuleCount * w + 2 * quiet, 80);
    for (int i = 1; i <= kModuleCount; ++i)
        if (isDark(i))
            page.fill({quiet + (i - 1) * w, 10, quiet + i * w, 70}, kBlack);
    EXPECT_EQ(testing::decodeCode128(page), testing::kPatternDigits);
}

// Int(5953.5 / t / 332) and Int(623.7 / t) at t = 1440 / dpi twips a pixel.
TEST(ModuleWidth, AndBarHeightFollowTheResolutionRoundingDown)
{
    struct Case { double dpi; int module, bar; };
    for (const Case& c : {Case{1200, 14, 519}, Case{600, 7, 259}, Case{300, 3, 129}, Case{203, 2, 87},
                          Case{100, 1, 43}, Case{72, 0, 31}}) {
        EXPECT_EQ(moduleWidth(float(1440.0 / c.dpi)), c.module) << c.dpi << " dpi";
        EXPECT_EQ(barHeightPixels(float(1440.0 / c.dpi)), c.bar) << c.dpi << " dpi";
    }
    EXPECT_EQ(moduleWidth(17.9f), 1);
    EXPECT_EQ(barHeightPixels(700.0f), 0);
    // 5953.5 / t / 332 and 5953.5 / (t * 332) part ways for some t; the rule
    // divides by t first. t = 1440/203 as a Single is the printer's value.
    const float t = float(1440.0 / 203.0);
    EXPECT_EQ(moduleWidth(t), std::floor(5953.5 / double(t) / 332.0));
}

TEST(Arithmetic, FaultsAreRuntimeErrors)
{
    EXPECT_THROW(moduleWidth(0.0f), RuntimeError);
    EXPECT_THROW(barHeightPixels(0.0f), RuntimeError);
    EXPECT_THROW(checkedDivide(0.0, 0.0), RuntimeError);
    EXPECT_THROW(checkedProduct(1e300, 1e300), RuntimeError);
    EXPECT_THROW(singleProduct(1e30f, 1e30f), RuntimeError);
    EXPECT_THROW(toSingle(1e300), RuntimeError);
    EXPECT_THROW(toInt16(32768.0), RuntimeError);
    EXPECT_EQ(toInt16(-32768.0), -32768);
    EXPECT_EQ(toInt16(2.5), 2);
    EXPECT_EQ(toInt16(3.5), 4);
    EXPECT_EQ(checkedDivide(1e-320, 1e10), 0.0) << "underflow passes";
}

} // namespace
} // namespace raitakone
