#pragma once

// One grading started from the window: the scan or the file is read and
// graded on a thread of its own, while a progress dialog shows how far it is
// and offers to cancel. The window stays responsive all the while.

#include "scanning/GradeSource.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

class QProgressDialog;

namespace raitakone {

class GradeRun : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const scanning::GradeOutcome& outcome)>;

    // Starts at once; done runs on the window's thread when the work ends,
    // unless the run was destroyed first.
    GradeRun(const scanning::GradeSource& source, QWidget* window, Done done);
    // Cancels and waits for the worker: nothing outlives the window.
    ~GradeRun() override;

    void cancel();

private:
    void showProgress(scanning::GradeStage stage, double fraction);

    struct Shared {
        std::atomic<bool> cancel{false};
        scanning::GradeOutcome outcome;
    };
    std::shared_ptr<Shared> shared_;
    QThread* worker_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    Done done_;
};

} // namespace raitakone
