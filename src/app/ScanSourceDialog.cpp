#include "app/ScanSourceDialog.h"

#include "grading/Calibration.h"
#include "grading/ScanImage.h"
#include "scanning/ScannerCalibrations.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

namespace raitakone {
namespace {

using scanning::GradeSource;

// The program's own settings (~/.config/raitakone/raitakone.conf), where the
// scanners' calibrations are kept.
std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "raitakone", "raitakone");
}

class ScanSourceDialog : public QDialog {
public:
    ScanSourceDialog(QWidget* parent, const GradeSource& suggestion) : QDialog(parent)
    {
        setWindowTitle(QString::fromUtf8("Arvioi skannaus"));
        auto* layout = new QVBoxLayout(this);

        fromFile_ = new QRadioButton(QString::fromUtf8("Skannaustiedosto (PNG, TIFF, JPEG tai PDF)"), this);
        layout->addWidget(fromFile_);
        file_ = new QLineEdit(suggestion.file, this);
        file_->setObjectName("scanFile");
        auto* browse = new QPushButton(QString::fromUtf8("&Selaa…"), this);
        connect(browse, &QPushButton::clicked, this, [this] {
            const QString path = QFileDialog::getOpenFileName(
                this, QString::fromUtf8("Skannaustiedosto"), QFileInfo(file_->text()).path(),
                QString::fromUtf8("Skannaukset (*.png *.tif *.tiff *.jpg *.jpeg *.pdf)"));
            if (!path.isEmpty()) {
                file_->setText(path);
                fromFile_->setChecked(true);
                readFileResolution();
            }
        });
        auto* fileRow = new QHBoxLayout;
        fileRow->addWidget(file_, 1);
        fileRow->addWidget(browse);
        // A file's resolution comes from the file where it states one; one
        // that does not (a PNG without pHYs, a 72-dpi JPEG) needs it given.
        fileDpi_ = dpiField(QString::fromUtf8("ei tiedossa"));
        fileDpi_->setObjectName("fileDpi");
        fileDpiNote_ = new QLabel(this);
        fileDpiNote_->setObjectName("fileDpiNote");
        auto* fileDpiRow = new QHBoxLayout;
        fileDpiRow->addWidget(fileDpi_);
        fileDpiRow->addWidget(fileDpiNote_, 1);
        auto* fileForm = new QFormLayout;
        fileForm->setContentsMargins(24, 0, 0, 0);
        fileForm->addRow(QString::fromUtf8("Tiedosto:"), fileRow);
        fileForm->addRow(QString::fromUtf8("Skannauksen tarkkuus:"), fileDpiRow);
        layout->addLayout(fileForm);
        connect(file_, &QLineEdit::editingFinished, this, [this] { readFileResolution(); });
        connect(fileDpi_, &QSpinBox::valueChanged, fromFile_, [this] { fromFile_->setChecked(true); });

        fromScanner_ = new QRadioButton(QString::fromUtf8("Skanneri"), this);
        layout->addWidget(fromScanner_);
        scanners_ = new QComboBox(this);
        scanners_->setObjectName("scanners");
        scanDpi_ = new QSpinBox(this);
        scanDpi_->setObjectName("scanDpi");
        scanDpi_->setRange(75, 4800);
        scanDpi_->setSingleStep(300);
        scanDpi_->setValue(suggestion.scanDpi);
        scanDpi_->setSuffix(QString::fromUtf8(" dpi"));
        auto* search = new QPushButton(QString::fromUtf8("&Etsi uudelleen"), this);
        connect(search, &QPushButton::clicked, this, &ScanSourceDialog::findScanners);
        auto* scannerForm = new QFormLayout;
        scannerForm->setContentsMargins(24, 0, 0, 0);
        auto* scannerRow = new QHBoxLayout;
        scannerRow->addWidget(scanners_, 1);
        scannerRow->addWidget(search);
        scannerForm->addRow(QString::fromUtf8("Laite:"), scannerRow);
        scannerForm->addRow(QString::fromUtf8("Tarkkuus:"), scanDpi_);
        // A calibration belongs to a device at a resolution: its scans are
        // read through it from then on, until it is cleared.
        calibrationState_ = new QLabel(this);
        calibrationState_->setObjectName("calibrationState");
        calibrationState_->setWordWrap(true);
        calibrate_ = new QPushButton(QString::fromUtf8("Kalibroi skanneri…"), this);
        calibrate_->setObjectName("calibrate");
        clearCalibration_ = new QPushButton(QString::fromUtf8("Poista kalibrointi"), this);
        clearCalibration_->setObjectName("clearCalibration");
        connect(calibrate_, &QPushButton::clicked, this, &ScanSourceDialog::calibrateScanner);
        connect(clearCalibration_, &QPushButton::clicked, this, [this] {
            scanning::forgetCalibration(*settings(), scanners_->currentData().toString(), scanDpi_->value());
            showCalibration();
        });
        auto* calibrationRow = new QHBoxLayout;
        calibrationRow->addWidget(calibrationState_, 1);
        calibrationRow->addWidget(calibrate_);
        calibrationRow->addWidget(clearCalibration_);
        scannerForm->addRow(QString::fromUtf8("Kalibrointi:"), calibrationRow);
        connect(scanners_, &QComboBox::currentIndexChanged, this, [this] { showCalibration(); });
        connect(scanDpi_, &QSpinBox::valueChanged, this, [this] { showCalibration(); });
        layout->addLayout(scannerForm);
        scannerNote_ = new QLabel(this);
        scannerNote_->setWordWrap(true);
        // Room for the longest note, so that no field shrinks when it comes.
        scannerNote_->setMinimumHeight(3 * fontMetrics().lineSpacing());
        layout->addWidget(scannerNote_);

        auto* group = new QButtonGroup(this);
        group->addButton(fromFile_);
        group->addButton(fromScanner_);
        (suggestion.kind == GradeSource::Kind::Scanner ? fromScanner_ : fromFile_)->setChecked(true);
        // Filling in a source picks it.
        connect(file_, &QLineEdit::textEdited, fromFile_, [this] { fromFile_->setChecked(true); });
        connect(scanners_, &QComboBox::activated, fromScanner_, [this] { fromScanner_->setChecked(true); });
        connect(scanDpi_, &QSpinBox::valueChanged, fromScanner_, [this] { fromScanner_->setChecked(true); });

        printerDpi_ = dpiField(QString::fromUtf8("ei tiedossa"));
        printerDpi_->setObjectName("printerDpi");
        printerDpi_->setValue(int(std::lround(suggestion.printerDpi.value_or(0.0))));
        auto* printerForm = new QFormLayout;
        printerForm->addRow(QString::fromUtf8("Sivun tulostaneen tulostimen tarkkuus:"), printerDpi_);
        layout->addLayout(printerForm);

        problem_ = new QLabel(this);
        problem_->setObjectName("problem");
        problem_->setWordWrap(true);
        problem_->setMinimumHeight(2 * fontMetrics().lineSpacing());
        problem_->setStyleSheet("color: #a00000");
        layout->addWidget(problem_);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("Arvioi"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Peruuta"));
        connect(buttons, &QDialogButtonBox::accepted, this, &ScanSourceDialog::acceptIfValid);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);

        preferredDevice_ = suggestion.device;
        readFileResolution();
        // The resolution the user gave last time for this file stands.
        if (suggestion.fileDpi) {
            const QSignalBlocker quiet(fileDpi_);
            fileDpi_->setValue(int(std::lround(*suggestion.fileDpi)));
        }
        findScanners();
        resize(560, sizeHint().height());
    }

    GradeSource chosen() const { return chosen_; }

private:
    QSpinBox* dpiField(const QString& unknown)
    {
        auto* field = new QSpinBox(this);
        field->setRange(0, 9600);
        field->setSpecialValueText(unknown);
        field->setSuffix(QString::fromUtf8(" dpi"));
        return field;
    }

    // Fills the scan resolution from the file, once for each file named.
    void readFileResolution()
    {
        const QString path = file_->text().trimmed();
        if (path == resolutionReadFor_)
            return;
        resolutionReadFor_ = path;
        statedDpi_.reset();
        formatProblem_.clear();
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            fileDpiNote_->clear();
            return;
        }
        // A file that is no scan is said to be so, not asked for a resolution.
        formatProblem_ = grading::scanFileFormatProblem(path);
        if (!formatProblem_.isEmpty()) {
            fileDpiNote_->setText(QString::fromUtf8("tiedosto ei ole skannaus"));
            return;
        }
        statedDpi_ = grading::scanFileResolution(path);
        const QSignalBlocker quiet(fileDpi_);
        fileDpi_->setValue(statedDpi_ ? int(std::lround(*statedDpi_)) : 0);
        fileDpiNote_->setText(statedDpi_ ? QString::fromUtf8("tiedoston mukaan")
                                         : QString::fromUtf8("tiedosto ei kerro tarkkuutta; anna se"));
    }

    // SANE may take seconds to look through its backends, so it looks on a
    // thread of its own and the dialog fills the list when it is done.
    void findScanners()
    {
        if (searching_)
            return;
        searching_ = true;
        scanners_->clear();
        scanners_->setEnabled(false);
        scannerNote_->setText(QString::fromUtf8("Etsitään skannereita…"));
        struct Found {
            std::vector<scanning::ScannerDevice> devices;
            QString error;
        };
        auto found = std::make_shared<Found>();
        QThread* search = QThread::create([found] { found->devices = scanning::listScanners(&found->error); });
        connect(search, &QThread::finished, search, &QObject::deleteLater);
        connect(search, &QThread::finished, this, [this, found] {
            searching_ = false;
            for (const scanning::ScannerDevice& device : found->devices)
                scanners_->addItem(QString::fromUtf8("%1 — %2").arg(device.description, device.name), device.name);
            scanners_->setEnabled(!found->devices.empty());
            if (const int at = scanners_->findData(preferredDevice_); at >= 0)
                scanners_->setCurrentIndex(at);
            if (!found->error.isEmpty())
                scannerNote_->setText(found->error);
            else if (found->devices.empty())
                scannerNote_->setText(QString::fromUtf8("Skanneria ei löytynyt. Liitä skanneri, kytke se "
                                                        "päälle ja paina Etsi uudelleen – tai skannaa sivu "
                                                        "tiedostoksi ja valitse tiedosto."));
            else
                scannerNote_->clear();
            showCalibration();
        });
        search->start();
    }

    // What calibration the chosen device has at the chosen resolution.
    void showCalibration()
    {
        const QString device = scanners_->currentData().toString();
        const bool any = !device.isEmpty();
        calibrate_->setEnabled(any && !searching_);
        const std::optional<grading::Calibration> calibration =
            any ? scanning::rememberedCalibration(*settings(), device, scanDpi_->value()) : std::nullopt;
        clearCalibration_->setEnabled(calibration.has_value());
        calibrationState_->setText(
            calibration ? QString::fromUtf8("»%1«, tehty %2").arg(calibration->name, calibration->created)
                        : QString::fromUtf8("ei kalibrointia tällä tarkkuudella (arvot luetaan sRGB:nä)"));
    }

    // Scans a grey step target on the chosen device at the chosen
    // resolution and makes its calibration from the target's reference values.
    void calibrateScanner()
    {
        const QString device = scanners_->currentData().toString();
        const int dpi = scanDpi_->value();
        const QString referencePath = QFileDialog::getOpenFileName(
            this, QString::fromUtf8("Askelkiilan viitearvot (CGATS)"), QString(),
            QString::fromUtf8("CGATS-viitearvot (*.txt *.cgats *.cie *.it8);;Kaikki tiedostot (*)"));
        if (referencePath.isEmpty())
            return;
        QFile referenceFile(referencePath);
        const grading::ReferenceRead reference =
            referenceFile.open(QIODevice::ReadOnly) ? grading::readStepReference(referenceFile.read(4 << 20))
                                                    : grading::ReferenceRead{std::nullopt, QString::fromUtf8("tiedostoa ei voi lukea")};
        if (!reference.reference) {
            problem_->setText(QString::fromUtf8("Viitetiedostoa %1 ei voi käyttää: %2.").arg(referencePath, reference.error));
            return;
        }
        if (QMessageBox::question(this, windowTitle(),
                                  QString::fromUtf8("Aseta askelkiila skannerin lasille suoraan ja paina OK. Skanneri "
                                                    "kalibroidaan tarkkuudella %1 dpi.")
                                      .arg(dpi),
                                  QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
            return;

        struct Shared {
            std::atomic<bool> cancel{false};
            scanning::Acquisition acquisition;
        };
        auto shared = std::make_shared<Shared>();
        QProgressDialog progress(QString::fromUtf8("Skannataan askelkiilaa…"), QString::fromUtf8("Peruuta"), 0, 0, this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        QThread* scan = QThread::create([shared, device, dpi] {
            scanning::ScanRequest request;
            request.device = device;
            request.dpi = dpi;
            shared->acquisition = scanning::acquireScan(request, shared->cancel);
        });
        // The scan's end reaches this loop queued, so it is not missed
        // however soon it comes.
        QEventLoop waiting;
        connect(&progress, &QProgressDialog::canceled, this, [shared] { shared->cancel = true; });
        connect(scan, &QThread::finished, &waiting, &QEventLoop::quit);
        scan->start();
        progress.show();
        waiting.exec();
        progress.reset();
        scan->wait();
        delete scan;
        if (!shared->acquisition.scan) {
            problem_->setText(shared->cancel ? QString::fromUtf8("Kalibrointi peruttiin.") : shared->acquisition.error);
            return;
        }
        const grading::WedgeSteps steps =
            grading::findWedgeSteps(shared->acquisition.scan->plane, int(reference.reference->steps.size()));
        grading::CalibrationMade made = steps.error.isEmpty()
                                            ? grading::makeCalibration(steps.values, *reference.reference)
                                            : grading::CalibrationMade{std::nullopt, steps.error};
        if (!made.calibration) {
            problem_->setText(QString::fromUtf8("Askelkiilaa ei voi käyttää kalibrointiin: %1.").arg(made.error));
            return;
        }
        grading::Calibration& calibration = *made.calibration;
        if (calibration.name.isEmpty())
            calibration.name = QFileInfo(referencePath).completeBaseName();
        calibration.scanFile = QString::fromUtf8("%1, %2 dpi").arg(device).arg(dpi);
        calibration.referenceFile = QFileInfo(referencePath).fileName();
        scanning::rememberCalibration(*settings(), device, dpi, calibration);
        problem_->clear();
        showCalibration();
    }

    void acceptIfValid()
    {
        chosen_.printerDpi = printerDpi_->value() > 0 ? std::optional<double>(printerDpi_->value()) : std::nullopt;
        if (fromFile_->isChecked()) {
            const QString path = file_->text().trimmed();
            if (path.isEmpty() || !QFileInfo(path).isFile()) {
                problem_->setText(path.isEmpty() ? QString::fromUtf8("Valitse skannaustiedosto.")
                                                 : QString::fromUtf8("Tiedostoa %1 ei ole. Valitse toinen.").arg(path));
                return;
            }
            readFileResolution();
            if (!formatProblem_.isEmpty()) {
                problem_->setText(formatProblem_);
                return;
            }
            if (fileDpi_->value() == 0) {
                problem_->setText(QString::fromUtf8("Tiedosto ei kerro skannauksen tarkkuutta. Anna tarkkuus, jolla "
                                                    "skannasit sivun, kohtaan Skannauksen tarkkuus."));
                fileDpi_->setFocus();
                return;
            }
            chosen_.kind = GradeSource::Kind::File;
            chosen_.file = path;
            // The file's own value is passed on as none, so that a scan with
            // different resolutions across and down keeps both.
            const bool asStated = statedDpi_ && fileDpi_->value() == int(std::lround(*statedDpi_));
            chosen_.fileDpi = asStated ? std::nullopt : std::optional<double>(fileDpi_->value());
        } else {
            if (searching_) {
                problem_->setText(QString::fromUtf8("Skannereita etsitään vielä; odota hetki."));
                return;
            }
            if (scanners_->count() == 0) {
                problem_->setText(QString::fromUtf8("Skanneria ei ole valittu. Liitä skanneri ja paina Etsi uudelleen "
                                                    "tai valitse skannaustiedosto."));
                return;
            }
            chosen_.kind = GradeSource::Kind::Scanner;
            chosen_.device = scanners_->currentData().toString();
            chosen_.scanDpi = scanDpi_->value();
            if (std::optional<grading::Calibration> calibration =
                    scanning::rememberedCalibration(*settings(), chosen_.device, chosen_.scanDpi))
                chosen_.calibration = std::make_shared<const grading::Calibration>(std::move(*calibration));
        }
        accept();
    }

    QRadioButton* fromFile_ = nullptr;
    QRadioButton* fromScanner_ = nullptr;
    QLineEdit* file_ = nullptr;
    QComboBox* scanners_ = nullptr;
    QSpinBox* scanDpi_ = nullptr;
    QSpinBox* printerDpi_ = nullptr;
    QSpinBox* fileDpi_ = nullptr;
    QLabel* fileDpiNote_ = nullptr;
    QString resolutionReadFor_;
    std::optional<double> statedDpi_;
    QString formatProblem_; // the file named cannot be a scan
    QLabel* scannerNote_ = nullptr;
    QLabel* calibrationState_ = nullptr;
    QPushButton* calibrate_ = nullptr;
    QPushButton* clearCalibration_ = nullptr;
    QLabel* problem_ = nullptr;
    QString preferredDevice_;
    bool searching_ = false;
    GradeSource chosen_;
};

} // namespace

std::optional<GradeSource> chooseScanSourceInDialog(QWidget* parent, const GradeSource& suggestion)
{
    ScanSourceDialog dialog(parent, suggestion);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

} // namespace raitakone
