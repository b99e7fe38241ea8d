#pragma once

// What a marked page says it is: the page, the printer and resolution it was
// printed at, its paper, when, and which series it belongs to. The same
// identity is written twice on the page, as a line of text for the eye and
// as the QR code's payload for the grader, in one fixed, versioned form:
//
//   RK1;page=Command11:2;caption=Samsung 3;printer=NAME;dpi=600x600;
//   paper=210x297;time=2026-12-08T14:05:00+02:00;series=8f3a;n=3/20
//
// and on a ladder page also ;k=-1,0,1 (its rungs' reductions, top to
// bottom). A value's ';', '=' and '%' are written as %3B, %3D and %25.

#include <optional>
#include <string>
#include <vector>

namespace raitakone::marking {

struct PageIdentity {
    std::string control;  // "Command11:2", "ladder"
    std::string caption;  // "Samsung 3", "Kavennustikkaat"
    std::string printer;  // as the printer names itself
    double dpiX = 0.0;
    double dpiY = 0.0;
    int paperWidthMm = 0;
    int paperHeightMm = 0;
    std::string time;     // local time, ISO 8601 with its offset from UTC
    std::string series;   // one random id per series run or window session
    std::string n;        // "3/20" in a series of 20; "7" in a window session
    std::vector<int> rungs; // a ladder page: each rung's bar width reduction in printer pixels

    bool operator==(const PageIdentity&) const = default;
};

inline constexpr const char* kMarkVersion = "RK1";

// The QR code's payload.
std::string markPayload(const PageIdentity& page);

// A payload read from a scan is data from outside: a mark of ours whose
// values lie outside what the program prints (a resolution of 50-10 000 dpi,
// a paper of 10-1000 mm, a page number, rungs on the ladder only) is
// refused with the reason, in Finnish; control characters are dropped from
// its texts. A code that is not a mark of ours has neither page nor problem.
struct MarkCheck {
    std::optional<PageIdentity> page;
    std::string problem;
};
MarkCheck checkMarkPayload(const std::string& payload);
// The identity a payload carries; nothing when it is not a sound mark of ours.
std::optional<PageIdentity> parseMarkPayload(const std::string& payload);

// The text line: "Samsung 3 · Command11:2 · NAME · 600 dpi · 210 × 297 mm ·
// 8.12.2026 14.05 · 3/20", its parts in that order.
std::vector<std::string> markTextParts(const PageIdentity& page);

// "600" or "600x1200", as the payload writes the resolution.
std::string dpiField(double dpiX, double dpiY);

// Eight hex digits, random.
std::string newSeriesId();

} // namespace raitakone::marking
