#include "app/GradeDialog.h"

#include "app/PageResultPanel.h"
#include "grading/GradeReport.h"
#include "grading/PageReport.h"
#include "grading/ProfilePlot.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace raitakone {

using grading::reportNumber;

namespace {

// The colour of grade 0..4: red for F through green for A.
QColor gradeColour(int grade)
{
    static const QColor colours[] = {QColor(240, 150, 150), QColor(245, 190, 130), QColor(245, 230, 140),
                                     QColor(200, 232, 150), QColor(150, 215, 150)};
    return colours[std::clamp(grade, 0, 4)];
}

// A read-only cell; grade colours it, -1 leaves it plain.
QTableWidgetItem* cell(const QString& text, int grade = -1)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (grade >= 0)
        item->setBackground(gradeColour(grade));
    return item;
}

QTableWidget* table(int rows, const QStringList& columns, QWidget* parent)
{
    auto* t = new QTableWidget(rows, int(columns.size()), parent);
    t->setHorizontalHeaderLabels(columns);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return t;
}

// The line table's column of decode passed or failed.
constexpr int kDecodeColumn = 8;

} // namespace

// The profile of one scan line, drawn as --plot draws it, at the widget's size.
class ProfileView : public QWidget {
public:
    ProfileView(const grading::SymbolGrade& symbol, QWidget* parent) : QWidget(parent), symbol_(symbol)
    {
        setMinimumSize(560, 260);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    int line() const { return line_; }
    void setLine(int line)
    {
        line_ = line;
        update();
    }
    void draw(QPainter& painter, QSizeF size) const { grading::drawProfile(painter, symbol_, line_, size); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        draw(painter, size());
    }

private:
    const grading::SymbolGrade& symbol_;
    int line_ = grading::kMiddleScanLine;
};

GradeDialog::GradeDialog(grading::GradeResult result, const QString& source, QWidget* parent)
    : QDialog(parent), result_(std::move(result)), symbol_(result_.symbols.at(grading::shownSymbol(result_)))
{
    setObjectName("gradeDialog");
    const QString sourceName = QFileInfo(source).fileName();
    setWindowTitle(QStringLiteral("Skannauksen arvio — %1").arg(sourceName.isEmpty() ? source : sourceName));
    auto* layout = new QVBoxLayout(this);
    // A ladder's answer comes first; the header and tables show its recommended rung.
    auto* page = new PageResultPanel(result_, this);
    if (result_.ladder)
        layout->addWidget(page);
    layout->addWidget(createHeader(source));
    if (!result_.ladder)
        layout->addWidget(page);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    auto* tables = new QWidget(splitter);
    auto* tablesLayout = new QVBoxLayout(tables);
    tablesLayout->setContentsMargins(0, 0, 0, 0);
    tablesLayout->addWidget(createParameterTable());
    auto* linesCaption = new QLabel(QStringLiteral("Pyyhkäisyviivat — valitse viiva, niin sen profiili piirtyy:"),
                                    tables);
    tablesLayout->addWidget(linesCaption);
    tablesLayout->addWidget(lines_ = createLineTable(), 1);
    plot_ = new ProfileView(symbol_, splitter);
    plot_->setObjectName("profilePlot");
    splitter->addWidget(tables);
    splitter->addWidget(plot_);
    splitter->setStretchFactor(1, 1);
    // The tables are read whole; the plot takes the rest.
    const int tablesWidth = lines_->verticalHeader()->sizeHint().width() + lines_->horizontalHeader()->length() +
                            2 * lines_->frameWidth() + lines_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    tables->setMinimumWidth(tablesWidth);
    splitter->setCollapsible(0, false);
    layout->addWidget(splitter, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Sulje"));
    QPushButton* json = buttons->addButton(QStringLiteral("Tallenna JSON…"), QDialogButtonBox::ActionRole);
    QPushButton* plot = buttons->addButton(QStringLiteral("Tallenna kuvaaja…"), QDialogButtonBox::ActionRole);
    json->setObjectName("saveJson");
    plot->setObjectName("savePlot");
    connect(json, &QPushButton::clicked, this, [this] { askAndSave(true); });
    connect(plot, &QPushButton::clicked, this, [this] { askAndSave(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(lines_, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0)
            plot_->setLine(row);
    });
    selectLine(grading::kMiddleScanLine);
    resize(std::max(1240, tablesWidth + 760), 700);
}

QWidget* GradeDialog::createHeader(const QString& source)
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);

    const int grade = std::clamp(int(symbol_.grade + 0.5), 0, 4);
    auto* letter = new QLabel(QString(QLatin1Char(symbol_.letter)), header);
    letter->setObjectName("gradeLetter");
    QFont big = letter->font();
    big.setPixelSize(64);
    big.setBold(true);
    letter->setFont(big);
    letter->setAlignment(Qt::AlignCenter);
    letter->setMinimumSize(104, 96);
    letter->setAutoFillBackground(true);
    QPalette palette = letter->palette();
    palette.setColor(QPalette::Window, gradeColour(grade));
    palette.setColor(QPalette::WindowText, Qt::black);
    letter->setPalette(palette);
    row->addWidget(letter);

    const grading::BarGain& gain = symbol_.barGain;
    QString gainText = QStringLiteral("Palkin levenemä: ");
    if (gain.measured) {
        gainText += QStringLiteral("%1 µm · %2 % moduulista · ")
                        .arg(grading::signedReportNumber(gain.um, 1), grading::signedReportNumber(gain.percentX, 1));
        gainText += gain.printerPixels
                        ? QStringLiteral("%1 tulostimen pikseliä").arg(grading::signedReportNumber(*gain.printerPixels, 2))
                        : QStringLiteral("tulostimen pikseleinä ei tiedossa (tulostimen tarkkuutta ei annettu)");
    } else {
        gainText += QStringLiteral("ei mitattavissa");
    }

    QString details =
        QStringLiteral("<div style='font-size:26px'><b>Laatu %1</b> &nbsp; %2</div>"
                       "<div>mittausaukko %3 mm (%4), aallonpituus %5 nm · moduuli X %6 mm · skannaus %7 dpi</div>"
                       "<div>%8</div>")
            .arg(reportNumber(symbol_.grade, 1), symbol_.gradeText.toHtmlEscaped(),
                 reportNumber(symbol_.apertureMm, 3))
            .arg(symbol_.apertureReference, 2, 10, QLatin1Char('0'))
            .arg(grading::kWavelengthNm)
            .arg(reportNumber(symbol_.moduleMm, 4), reportNumber(result_.dpiX, 0), source.toHtmlEscaped());
    auto* summary = new QLabel(details, header);
    summary->setObjectName("gradeSummary");
    summary->setTextFormat(Qt::RichText);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* gainLabel = new QLabel(gainText, header);
    gainLabel->setObjectName("barGain");
    auto* meaning = new QLabel(grading::gainMeaning(symbol_), header);
    meaning->setObjectName("meaning");
    meaning->setWordWrap(true);
    QFont emphasis = meaning->font();
    emphasis.setBold(true);
    meaning->setFont(emphasis);

    auto* texts = new QVBoxLayout;
    texts->addWidget(summary);
    texts->addWidget(gainLabel);
    texts->addWidget(meaning);
    QString notes = result_.message;
    if (result_.ladder)
        notes += QStringLiteral(" Tässä näkyy suositellun askelman viivakoodi; JSON sisältää kaikki.");
    else if (result_.symbols.size() > 1)
        notes += QStringLiteral(" Skannauksessa on %1 viivakoodia; tässä näkyy ensimmäinen, JSON sisältää kaikki.")
                     .arg(result_.symbols.size());
    if (!notes.trimmed().isEmpty()) {
        auto* note = new QLabel(notes.trimmed(), header);
        note->setWordWrap(true);
        texts->addWidget(note);
    }
    row->addLayout(texts, 1);
    return header;
}

QTableWidget* GradeDialog::createParameterTable()
{
    const auto rows = grading::parameterRows(symbol_);
    auto* t = table(int(rows.size()), {QStringLiteral("huonoin arvo"), QStringLiteral("arvosana")}, this);
    t->setObjectName("parameterTable");
    QStringList names;
    int r = 0;
    for (const auto& [name, value] : rows) {
        names << name;
        t->setItem(r, 0, cell(value.text, value.grade));
        t->setItem(r, 1, cell(grading::gradeLetterOf(value.grade), value.grade));
        ++r;
    }
    t->setVerticalHeaderLabels(names);
    t->setSelectionMode(QAbstractItemView::NoSelection);
    t->setFocusPolicy(Qt::NoFocus);
    t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    t->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    return t;
}

QTableWidget* GradeDialog::createLineTable()
{
    auto* t = table(int(symbol_.lines.size()),
                    {QStringLiteral("kohta mm"), QStringLiteral("Rmin"), QStringLiteral("Rmax"), QStringLiteral("SC"),
                     QStringLiteral("ECmin"), QStringLiteral("MOD"), QStringLiteral("Defects"),
                     QStringLiteral("Dek."), QStringLiteral("Dekoodaus"), QStringLiteral("arvosana")},
                    this);
    t->setObjectName("lineTable");
    int r = 0;
    for (const grading::ScanLine& l : symbol_.lines) {
        int c = 0;
        for (const grading::ShownValue& value : grading::lineColumns(l))
            t->setItem(r, c++, cell(value.text, value.grade));
        if (!l.values.decode)
            t->item(r, kDecodeColumn)->setToolTip(l.decodeFailure);
        ++r;
    }
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    return t;
}

int GradeDialog::selectedLine() const { return plot_->line(); }

void GradeDialog::selectLine(int line)
{
    lines_->setCurrentCell(line, 0);
    lines_->selectRow(line);
}

QImage GradeDialog::plotImage(QSize size) const
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    plot_->draw(painter, size);
    return image;
}

bool GradeDialog::saveJson(const QString& path, QString* error) const
{
    // A file is replaced whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(grading::gradeJson(result_)) < 0 || !file.commit()) {
        *error = QStringLiteral("Raporttia %1 ei voi kirjoittaa: %2. Valitse toinen kansio.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool GradeDialog::savePlot(const QString& path, QString* error) const
{
    return grading::writeProfilePlot(symbol_, path, error, selectedLine());
}

void GradeDialog::askAndSave(bool json)
{
    const QString path =
        json ? QFileDialog::getSaveFileName(this, QStringLiteral("Tallenna raportti"), QStringLiteral("arvio.json"),
                                            QStringLiteral("JSON (*.json)"))
             : QFileDialog::getSaveFileName(this, QStringLiteral("Tallenna kuvaaja"),
                                            QStringLiteral("profiili-viiva-%1.png").arg(selectedLine() + 1),
                                            QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!(json ? saveJson(path, &error) : savePlot(path, &error)))
        QMessageBox::warning(this, windowTitle(), error);
}

} // namespace raitakone
