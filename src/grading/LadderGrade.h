#pragma once

// What a scan of the ladder says, rung by rung, and what it recommends:
// plain data that the report, the JSON and the window read. It is part of a
// page's grade result, so it lives with the grading; ladder/ fills it in.

#include <QString>

#include <optional>
#include <vector>

namespace raitakone::ladder {

struct RungGrade {
    int reduction = 0;          // k: the bars drawn k printer pixels narrower
    bool found = false;         // a symbol was graded where the rung stands
    double grade = 0.0;
    char letter = 'F';
    QString gradeText;          // grade/aperture/wavelength
    bool decoded = false;       // read as the pages' 54 digits
    std::optional<double> deviationUm; // bar width less the ideal n × X
    std::optional<double> deviationPx; // the same in printer pixels
    int symbol = -1;            // its symbol among the result's symbols
};

struct LadderGrade {
    std::vector<RungGrade> rungs;       // top to bottom, as on the sheet
    std::optional<double> spreadPx;     // the printer's ink spread: median over decoded rungs of deviation + k
    std::optional<double> spreadUm;
    std::optional<int> recommendedPx;   // the reduction to draw with
    std::optional<double> recommendedUm;
    QString recommendation;             // one Finnish sentence
};

} // namespace raitakone::ladder
