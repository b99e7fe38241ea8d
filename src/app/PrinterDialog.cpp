#include "app/PrinterDialog.h"

#include "printing/CupsPrinter.h"
#include "surface/RuntimeError.h"

#include <QDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

namespace raitakone {
namespace {

QString dpiText(const PrinterChoice& choice)
{
    const auto x = std::lround(choice.dpiX);
    const auto y = std::lround(choice.dpiY);
    return x == y ? QString::number(x) : QString("%1x%2").arg(x).arg(y);
}

// A resolution as the program writes it ("600 dpi", "600 × 1200 dpi") is
// taken as typed bare ("600", "600x1200").
QString typedResolution(QString text)
{
    text = text.trimmed();
    if (text.endsWith(QStringLiteral("dpi"), Qt::CaseInsensitive))
        text.chop(3);
    return text.replace(QChar(0x00D7), QLatin1Char('x')).remove(QLatin1Char(' '));
}

class PrinterDialog : public QDialog {
public:
    PrinterDialog(QWidget* parent, const PrinterChoice& current) : QDialog(parent)
    {
        setWindowTitle(QString::fromUtf8("Valitse tulostin"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QString::fromUtf8("Mihin seuraavat sivut tulostetaan?"), this));

        list_ = new QListWidget(this);
        list_->setObjectName("printers");
        addEntry(QString::fromUtf8("CUPS-oletustulostin"), PrinterChoice{});
        try {
            for (const CupsDestinationSummary& d : listCupsDestinations()) {
                QString text = QString::fromStdString(d.name);
                if (d.isDefault)
                    text += QString::fromUtf8(" (oletus)");
                if (d.dpiX > 0)
                    text += QString::fromUtf8(" · ") + QString::fromStdString(resolutionText(d.dpiX, d.dpiY));
                text += QString::fromUtf8(" · ") + QString::fromStdString(d.state);
                addEntry(text, PrinterChoice{PrinterChoice::Kind::NamedCups, d.name});
            }
        } catch (const RuntimeError& error) {
            auto* down = new QLabel(QString::fromStdString(error.what()), this);
            down->setWordWrap(true);
            layout->addWidget(down);
        }
        PrinterChoice files = current.kind == PrinterChoice::Kind::Files ? current : PrinterChoice{};
        files.kind = PrinterChoice::Kind::Files;
        filesRow_ = addEntry(QString::fromUtf8("Sivutiedostot (PNG ja PDF kansioon)"), files);
        layout->addWidget(list_);

        auto* form = new QFormLayout;
        folder_ = new QLineEdit(QString::fromStdString(files.name), this);
        folder_->setObjectName("folder");
        folder_->setPlaceholderText(QString::fromUtf8("kansio, johon sivut tallennetaan"));
        browse_ = new QPushButton(QString::fromUtf8("&Selaa…"), this);
        auto* browse = browse_;
        connect(browse, &QPushButton::clicked, this, [this] {
            const QString dir = QFileDialog::getExistingDirectory(this, QString::fromUtf8("Sivutiedostojen kansio"),
                                                                  folder_->text());
            if (!dir.isEmpty())
                folder_->setText(dir);
        });
        auto* folderRow = new QHBoxLayout;
        folderRow->addWidget(folder_, 1);
        folderRow->addWidget(browse);
        form->addRow(QString::fromUtf8("Kansio:"), folderRow);
        dpi_ = new QLineEdit(dpiText(files), this);
        dpi_->setObjectName("dpi");
        form->addRow(QString::fromUtf8("Tarkkuus (dpi, 600 tai 600x1200):"), dpi_);
        paper_ = paperField(files.paper);
        form->addRow(QString::fromUtf8("Paperi (nimi tai esim. 100x150mm):"), paper_);
        layout->addLayout(form);

        problem_ = new QLabel(this);
        problem_->setObjectName("problem");
        problem_->setWordWrap(true);
        problem_->setStyleSheet("color: #a00000");
        // Room for the message before it comes, so that no field moves then.
        problem_->setMinimumHeight(2 * fontMetrics().lineSpacing());
        layout->addWidget(problem_);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("Valitse"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Peruuta"));
        connect(buttons, &QDialogButtonBox::accepted, this, &PrinterDialog::acceptIfValid);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);

        connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
            folder_->setEnabled(row == filesRow_);
            dpi_->setEnabled(row == filesRow_);
            paper_->setEnabled(row == filesRow_);
            browse_->setEnabled(row == filesRow_);
            problem_->clear();
        });
        list_->setCurrentRow(rowOf(current));
        resize(520, sizeHint().height());
    }

    PrinterChoice chosen() const { return chosen_; }

private:
    // The common sizes to pick, or a size of one's own typed in.
    QComboBox* paperField(const Paper& current)
    {
        auto* field = new QComboBox(this);
        field->setObjectName("paper");
        field->setEditable(true);
        field->setInsertPolicy(QComboBox::NoInsert);
        for (const Paper& paper : namedPapers())
            field->addItem(QString::fromStdString(paper.optionText()));
        for (const char* label : {"100x150mm", "4x6in"})
            field->addItem(QString::fromUtf8(label));
        field->setCurrentText(QString::fromStdString(current.optionText()));
        return field;
    }

    int addEntry(const QString& text, const PrinterChoice& choice)
    {
        list_->addItem(text);
        choices_.push_back(choice);
        return list_->count() - 1;
    }

    int rowOf(const PrinterChoice& choice) const
    {
        if (choice.kind == PrinterChoice::Kind::Files)
            return filesRow_;
        for (size_t row = 0; row < choices_.size(); ++row)
            if (choices_[row] == choice)
                return int(row);
        return 0;
    }

    void acceptIfValid()
    {
        const int row = list_->currentRow();
        if (row < 0)
            return;
        if (row != filesRow_) {
            chosen_ = choices_[size_t(row)];
            accept();
            return;
        }
        if (folder_->text().trimmed().isEmpty()) {
            problem_->setText(QString::fromUtf8("Valitse kansio, johon sivutiedostot tallennetaan."));
            folder_->setFocus();
            return;
        }
        try {
            chosen_ = parsePrinterChoice({"file:" + folder_->text().trimmed().toStdString(),
                                          typedResolution(dpi_->text()).toStdString(),
                                          paper_->currentText().trimmed().toStdString()},
                                         ChoiceSource::Window);
            accept();
        } catch (const RuntimeError& error) {
            problem_->setText(QString::fromStdString(error.what()));
        }
    }

    QListWidget* list_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QLineEdit* dpi_ = nullptr;
    QComboBox* paper_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLabel* problem_ = nullptr;
    std::vector<PrinterChoice> choices_;
    int filesRow_ = -1;
    PrinterChoice chosen_;
};

} // namespace

std::optional<PrinterChoice> choosePrinterInDialog(QWidget* parent, const PrinterChoice& current)
{
    PrinterDialog dialog(parent, current);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

} // namespace raitakone
