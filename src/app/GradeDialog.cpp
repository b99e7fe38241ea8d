#include "app/GradeDialog.h"

#include "grading/FileErrorText.h"
#include "app/PageResultPanel.h"
#include "grading/ActionAdvice.h"
#include "grading/GradeReport.h"
#include "grading/PageReport.h"
#include "grading/ProfilePlot.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace raitakone {

using grading::reportNumber;

namespace {

QColor gradeColour(int grade) { return QColor(grading::gradeColourName(grade)); }

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
        setMinimumSize(320, 200);
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
    : QDialog(parent), result_(std::move(result)), symbol_(result_.symbols.at(grading::shownSymbol(result_))),
      source_(source)
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
    // On a short screen the tables scroll as one, so that neither is
    // squeezed to a few rows.
    auto* tablesScroll = new QScrollArea(splitter);
    tablesScroll->setWidgetResizable(true);
    tablesScroll->setFrameShape(QFrame::NoFrame);
    tablesScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* tables = new QWidget;
    auto* tablesLayout = new QVBoxLayout(tables);
    tablesLayout->setContentsMargins(0, 0, 0, 0);
    QTableWidget* parameters = createParameterTable();
    tablesLayout->addWidget(parameters);
    auto* linesCaption = new QLabel(QStringLiteral("Pyyhkäisyviivat — valitse viiva, niin sen profiili piirtyy:"),
                                    tables);
    tablesLayout->addWidget(linesCaption);
    tablesLayout->addWidget(lines_ = createLineTable(), 1);
    tables->setMinimumHeight(parameters->sizeHint().height() + linesCaption->sizeHint().height() +
                             lines_->horizontalHeader()->sizeHint().height() +
                             kLinesAlwaysShown * lines_->verticalHeader()->defaultSectionSize() +
                             2 * lines_->frameWidth() + 2 * tablesLayout->spacing());
    tablesScroll->setWidget(tables);
    plot_ = new ProfileView(symbol_, splitter);
    plot_->setObjectName("profilePlot");
    splitter->addWidget(tablesScroll);
    splitter->addWidget(plot_);
    splitter->setStretchFactor(1, 1);
    splitter->setCollapsible(0, false);
    splitter->setCollapsible(1, false);
    layout->addWidget(splitter, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Sulje"));
    QPushButton* json = buttons->addButton(QStringLiteral("Tallenna &JSON…"), QDialogButtonBox::ActionRole);
    QPushButton* plot = buttons->addButton(QStringLiteral("Tallenna &kuvaaja…"), QDialogButtonBox::ActionRole);
    json->setObjectName("saveJson");
    plot->setObjectName("savePlot");
    connect(json, &QPushButton::clicked, this, [this] { askAndSave(true); });
    connect(plot, &QPushButton::clicked, this, [this] { askAndSave(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    saved_ = new QLabel(this);
    saved_->setObjectName("savedTo");
    saved_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(saved_, 1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    connect(lines_, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0)
            plot_->setLine(row);
    });
    selectLine(grading::kMiddleScanLine);
    fitToScreen(splitter, tablesScroll, result_.ladder ? page->sizeHint().height() : 0);
}

// The tables are read whole and the plot takes the rest where the screen
// has room, with the ladder's recommendation and rungs (above) on top of
// that; on a smaller screen the dialog takes the available area and the
// tables scroll, leaving the plot at least a third of the width.
void GradeDialog::fitToScreen(QSplitter* splitter, QWidget* tables, int above)
{
    const QRect available = availableArea();
    const int tablesWidth = lines_->verticalHeader()->sizeHint().width() + lines_->horizontalHeader()->length() +
                            2 * lines_->frameWidth() + lines_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize wanted(tablesWidth + 760, 760 + above); // a ladder's rungs above the tables
    const QSize room = available.size() - QSize(kFrameAllowance, 2 * kFrameAllowance + kTitleAllowance);
    const QSize size = wanted.boundedTo(room);
    const int tablesShare = std::min(tablesWidth, size.width() * 2 / 3);
    tables->setMinimumWidth(std::min(tablesWidth, room.width() / 2));
    resize(size);
    splitter->setSizes({tablesShare, size.width() - tablesShare});
}

QRect GradeDialog::availableArea() const
{
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    return screen->availableGeometry();
}

// Opened over the window it came from, but never across the screen's edge.
void GradeDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    const QRect available = availableArea();
    QRect frame = frameGeometry();
    if (frame.size() == size())
        frame.adjust(-kFrameAllowance / 2, -kTitleAllowance, kFrameAllowance / 2, kFrameAllowance / 2);
    const QPoint shift(std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() - frame.width() + 1)) - frame.left(),
                       std::clamp(frame.top(), available.top(), std::max(available.top(), available.bottom() - frame.height() + 1)) - frame.top());
    if (!shift.isNull())
        move(pos() + shift);
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
                        ? grading::printerPixelsText(result_, *gain.printerPixels, true)
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
    summary->setWordWrap(true);
    summary->setObjectName("gradeSummary");
    summary->setTextFormat(Qt::RichText);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // What the bars did, then what to do: the ladder's own recommendation
    // stands above for a ladder, whose shown rung is the narrowed one.
    if (!result_.ladder)
        gainText += QLatin1Char(' ') + grading::gainMeaning(symbol_);
    auto* gainLabel = new QLabel(gainText, header);
    gainLabel->setObjectName("barGain");
    gainLabel->setWordWrap(true);
    auto* meaning = new QLabel(result_.ladder ? QString() : grading::actionAdvice(symbol_), header);
    meaning->setVisible(!result_.ladder);
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
        notes += QStringLiteral(" Tässä näkyy suositellun askelman viivakoodi; jokainen askelma on taulukossa yllä.");
    else if (result_.symbols.size() > 1)
        notes += QStringLiteral(" Skannauksessa on %1 viivakoodia; tässä näkyy ensimmäinen. Raportti… arvioi "
                                "jokaisen omalla rivillään.")
                     .arg(result_.symbols.size());
    // How the values became reflectance; a warning in red when they cannot be trusted.
    auto* method = new QLabel(grading::reflectanceMethodText(result_.reflectance), header);
    method->setObjectName("reflectanceMethod");
    method->setWordWrap(true);
    texts->addWidget(method);
    if (!result_.reflectance.trusted) {
        auto* warning = new QLabel(result_.reflectance.warning, header);
        warning->setObjectName("reflectanceWarning");
        warning->setWordWrap(true);
        warning->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
        texts->addWidget(warning);
    }
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
                    {QStringLiteral("kohta (mm)"), QStringLiteral("Rmin"), QStringLiteral("Rmax"), QStringLiteral("SC"),
                     QStringLiteral("ECmin"), QStringLiteral("MOD"), QStringLiteral("Virheet"),
                     QStringLiteral("Dekoodattavuus"), QStringLiteral("Dekoodaus"), QStringLiteral("arvosana")},
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
    QString reason;
    if (!writeWholeFile(path, grading::gradeJson(result_), &reason)) {
        *error = QStringLiteral("Raporttia %1 ei voi kirjoittaa: %2. Valitse toinen kansio.").arg(path, reason);
        return false;
    }
    return true;
}

bool GradeDialog::savePlot(const QString& path, QString* error) const
{
    return grading::writeProfilePlot(symbol_, path, error, selectedLine());
}

QString GradeDialog::suggestedPath(bool json) const
{
    // Beside the scan, named after it; a fresh scan has no file, so its
    // files go to the home folder.
    const QFileInfo scan(source_);
    const bool fromFile = scan.isFile();
    const QString folder = fromFile ? scan.absolutePath() : QDir::homePath();
    const QString stem = fromFile ? scan.completeBaseName() : QStringLiteral("skannaus");
    return QDir(folder).filePath(json ? QStringLiteral("%1-arvio.json").arg(stem)
                                      : QStringLiteral("%1-profiili-viiva-%2.png").arg(stem).arg(selectedLine() + 1));
}

void GradeDialog::askAndSave(bool json)
{
    const QString png = QStringLiteral("PNG-kuva (*.png)"), svg = QStringLiteral("SVG-piirros (*.svg)");
    QString filter = png;
    QString path = json ? QFileDialog::getSaveFileName(this, QStringLiteral("Tallenna arvio (JSON)"), suggestedPath(true),
                                                       QStringLiteral("JSON (*.json)"))
                        : QFileDialog::getSaveFileName(this, QStringLiteral("Tallenna kuvaaja"), suggestedPath(false),
                                                       png + QStringLiteral(";;") + svg, &filter);
    if (path.isEmpty())
        return;
    // A name typed without its ending gets the one of the type chosen.
    const QString ending = json ? QStringLiteral(".json") : filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    if (QFileInfo(path).suffix().isEmpty())
        path += ending;
    QString error;
    if (!(json ? saveJson(path, &error) : savePlot(path, &error))) {
        QMessageBox::warning(this, windowTitle(), error);
        return;
    }
    saved_->setText(QStringLiteral("Tallennettu: %1").arg(QDir::toNativeSeparators(path)));
}

} // namespace raitakone
