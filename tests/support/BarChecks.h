#pragma once

// Checks shared by the suites of print test pages: the calls recorded at the
// surface, the bars on the page, and what a printer too coarse gets.

#include "pattern/BarPattern.h"
#include "support/Decode.h"
#include "support/ErrorText.h"
#include "support/MemoryPrinter.h"
#include "support/PageProbe.h"
#include "surface/Surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace raitakone::testing {

// The resolutions the print pages are checked at, with the module width
// w = Int(5953.5 / t / 332) and bar height h = Int(623.7 / t) in device
// pixels for t = 1440 / dpi twips a pixel, and t as Print writes it.
struct PrintResolution {
    int dpi;
    int w;
    int h;
    const char* twipsPerPixel;
};
inline void PrintTo(const PrintResolution& r, std::ostream* out) { *out << r.dpi << " dpi"; }
inline constexpr PrintResolution kPrintResolutions[] = {
    {203, 2, 87, "7.093596"}, {300, 3, 129, "4.8"}, {600, 7, 259, "2.4"}, {1200, 14, 519, "1.2"}};

// 166 Line calls of six values, all of the given flags with Color 0, the one for dark
// module i at X1 = X2 = x0 + (i - 1) * w (in single precision), from y1 to y2.
inline void expectModuleBarCalls(const std::vector<SurfaceEvent>& lines, int flags, float x0, float w, float y1,
                                 float y2)
{
    ASSERT_EQ(lines.size(), 166u);
    size_t k = 0;
    int wrong = 0;
    for (int i = 1; i <= kModuleCount; ++i) {
        if (!isDark(i))
            continue;
        const std::vector<double>& v = lines[k++].values;
        if (v.size() != 6) {
            ADD_FAILURE() << "module " << i << ": Line with " << v.size() << " values";
            return;
        }
        const bool right = v[0] == flags && v[5] == 0 && float(v[1]) == x0 + float(i - 1) * w && v[3] == v[1]
                           && v[2] == y1 && v[4] == y2;
        if (!right && wrong++ < 3)
            ADD_FAILURE() << "module " << i << ": Line " << v[0] << ", " << v[1] << ", " << v[2] << ", " << v[3]
                          << ", " << v[4] << ", " << v[5];
    }
    EXPECT_EQ(wrong, 0) << "calls off their module";
}

// Every dark module w pixels wide from column left + (i - 1) * w (clipped at
// the left edge) over rows top .. bottom and nowhere above or below; the
// symbol decodes. Returns the bars' region of the page.
inline QImage expectModuleBars(const PageRaster& page, int left, int w, int top, int bottom)
{
    const std::vector<Run> runs = expectedPatternRuns(left, w);
    EXPECT_TRUE(darkRunsOnRow(page, top - 1).empty()) << "row " << top - 1;
    for (int row : {top, (top + bottom) / 2, bottom})
        EXPECT_EQ(darkRunsOnRow(page, row), runs) << "row " << row;
    EXPECT_TRUE(darkRunsOnRow(page, bottom + 1).empty()) << "row " << bottom + 1;
    const QImage bars = page.image().copy(0, top, runs.back().end + w, bottom - top + 1);
    EXPECT_EQ(decodeCode128(bars), kPatternDigits);
    return bars;
}

// A page's calls in three parts: the settings before the first Line as
// (member, value), the calls from the first Line to the last (-1 when any of
// them is not a Line), and the calls after the last Line as "Print:<text>",
// "Font.Name:<name>", "Font.Size:16", "EndDoc:".
using Settings = std::vector<std::pair<std::string, double>>;
struct CallSequence {
    Settings settings;
    int lines = 0;
    std::vector<std::string> after;
    bool operator==(const CallSequence&) const = default;
};
inline void PrintTo(const CallSequence& c, std::ostream* out)
{
    *out << "settings:";
    for (const auto& [what, value] : c.settings)
        *out << " " << what << "=" << value;
    *out << "; " << c.lines << " Lines; after:";
    for (const std::string& a : c.after)
        *out << " [" << a << "]";
}

inline CallSequence callSequence(const std::vector<SurfaceEvent>& events)
{
    CallSequence c;
    size_t k = 0;
    for (; k < events.size() && events[k].what != "Line"; ++k) // a setting has exactly one value
        c.settings.emplace_back(events[k].what, events[k].values.size() == 1 ? events[k].values[0] : std::nan(""));
    size_t last = events.size();
    while (last > k && events[last - 1].what != "Line")
        --last;
    for (size_t i = k; i < last; ++i)
        c.lines = c.lines < 0 || events[i].what != "Line" ? -1 : c.lines + 1;
    for (size_t i = last; i < events.size(); ++i) {
        const SurfaceEvent& e = events[i];
        const bool text = e.what == "Print" || e.what == "Font.Name";
        c.after.push_back(e.what + ":" + (text ? e.text : e.values.empty() ? "" : std::to_string(int(e.values[0]))));
    }
    return c;
}

// At 72 dpi (20 twips a pixel) a module is 0 pixels wide: the click fails
// with an error naming DrawWidth before any pen width or bar reaches the
// printer, leaves no document open, and no page is delivered.
inline void expectRefusedOnACoarsePrinter(const std::function<void(PrinterSurface&)>& click)
{
    TestPrinter t(72);
    const std::string message = errorOf([&] { click(t.printer); });
    EXPECT_NE(message.find("DrawWidth"), std::string::npos) << message;
    EXPECT_TRUE(t.eventsNamed("Line").empty());
    EXPECT_TRUE(t.eventsNamed("DrawWidth").empty());
    EXPECT_FALSE(t.printer.documentOpen());
    t.printer.KillDoc();
    EXPECT_TRUE(t.record->pages.empty());
}

// Two clicks on one printer give two pages, pixel for pixel the same.
inline void expectTheSamePageTwice(double dpi, const std::function<void(PrinterSurface&)>& click)
{
    TestPrinter t(dpi);
    click(t.printer);
    click(t.printer);
    ASSERT_EQ(t.record->pages.size(), 2u);
    EXPECT_TRUE(t.record->pages[0].raster.image() == t.record->pages[1].raster.image());
}

} // namespace raitakone::testing
