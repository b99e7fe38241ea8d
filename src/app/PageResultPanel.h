#pragma once

// What the page's mark adds to the grade dialog: which page, technique,
// printer and resolution the scan shows; for a ladder, the recommendation in
// large type over the table of rungs.

#include "grading/Grading.h"

#include <QWidget>

namespace raitakone {

class PageResultPanel : public QWidget {
    Q_OBJECT

public:
    // Shows nothing when the result has no mark.
    PageResultPanel(const grading::GradeResult& result, QWidget* parent = nullptr);
};

} // namespace raitakone
