#include "app/ScanSourceDialog.h"

#include "grading/ScanImage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>
#include <memory>
#include <vector>

namespace raitakone {
namespace {

using scanning::GradeSource;

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
        });
        search->start();
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
