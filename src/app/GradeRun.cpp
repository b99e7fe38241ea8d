#include "app/GradeRun.h"

#include "process/TerminationSignals.h"

#include <QProgressDialog>
#include <QPushButton>

namespace raitakone {

GradeRun::GradeRun(const scanning::GradeSource& source, QWidget* window, Done done)
    : QObject(window), shared_(std::make_shared<Shared>()), done_(std::move(done))
{
    const bool scanning = source.kind == scanning::GradeSource::Kind::Scanner;
    progress_ = new QProgressDialog(scanning ? QStringLiteral("Skannataan…") : QStringLiteral("Luetaan skannausta…"),
                                    QStringLiteral("Peruuta"), 0, scanning ? 100 : 0, window);
    progress_->setObjectName("gradeProgress");
    progress_->setWindowTitle(QStringLiteral("Arvioi skannaus"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
    connect(progress_, &QProgressDialog::canceled, this, &GradeRun::cancel);

    // The worker posts its progress to this object; posted calls to an
    // object already gone are dropped, and the destructor waits for the
    // worker, so neither side outlives the other.
    std::shared_ptr<Shared> shared = shared_;
    worker_ = QThread::create([this, shared, source] {
        blockTerminationSignals(); // a stop signal is the window's to take
        shared->outcome = scanning::gradeFromSource(source, shared->cancel,
                                                    [this](scanning::GradeStage stage, double fraction) {
                                                        QMetaObject::invokeMethod(
                                                            this, [this, stage, fraction] { showProgress(stage, fraction); },
                                                            Qt::QueuedConnection);
                                                    });
    });
    connect(worker_, &QThread::finished, this, [this] {
        progress_->hide();
        progress_->deleteLater();
        progress_ = nullptr;
        if (done_)
            done_(shared_->outcome);
    });
    worker_->start();
}

GradeRun::~GradeRun()
{
    shared_->cancel = true;
    worker_->wait();
    delete worker_;
}

void GradeRun::cancel()
{
    shared_->cancel = true;
    if (progress_ != nullptr) {
        progress_->setLabelText(QStringLiteral("Perutaan…"));
        if (auto* button = progress_->findChild<QPushButton*>())
            button->setEnabled(false);
    }
}

void GradeRun::showProgress(scanning::GradeStage stage, double fraction)
{
    if (progress_ == nullptr || shared_->cancel)
        return;
    if (stage == scanning::GradeStage::Scanning) {
        progress_->setValue(std::clamp(int(fraction * 100.0 + 0.5), 0, 99));
    } else {
        progress_->setLabelText(QStringLiteral("Arvioidaan viivakoodia…"));
        progress_->setRange(0, 0);
    }
}

} // namespace raitakone
