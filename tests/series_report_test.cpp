// The series report over synthetic scans of marked pages, written to files
// in shuffled order: pages ranked by what the print and scan model did to
// them, the ladder's recommendation first, the undecodable and the unread
// listed after, and every value the HTML shows, read back with an XML
// parser, the same as the JSON's.

#include "app/PageSeries.h"
#include "report/SeriesGrading.h"
#include "support/MarkedScan.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>

namespace raitakone {
namespace {

using namespace raitakone::testing;

PrintPage page(const char* name) { return *findPrintPage(name); }

// The value a cell shows against the JSON's: numbers as the report rounds
// them, pass and fail, yes and no, and a dash for none.
void expectShown(const QString& shown, const QJsonValue& json, const QString& where)
{
    SCOPED_TRACE(where.toStdString());
    if (json.isNull() || json.isUndefined() || json == QJsonValue(QString())) {
        EXPECT_EQ(shown, QStringLiteral("–"));
    } else if (json.isBool()) {
        const bool yes = shown == QStringLiteral("hyväksytty") || shown == QStringLiteral("kyllä");
        EXPECT_TRUE(yes || shown == QStringLiteral("hylätty") || shown == QStringLiteral("ei")) << shown.toStdString();
        EXPECT_EQ(yes, json.toBool());
    } else if (json.isDouble()) {
        QString number = shown;
        number.replace(QLatin1Char(','), QLatin1Char('.')).remove(QLatin1Char('+'));
        bool ok = false;
        const double value = number.toDouble(&ok);
        ASSERT_TRUE(ok) << shown.toStdString();
        const qsizetype point = number.indexOf(QLatin1Char('.'));
        const int decimals = point < 0 ? 0 : int(number.size() - point - 1);
        EXPECT_LE(std::fabs(value - json.toDouble()), 0.5 * std::pow(10.0, -decimals) + 1e-9) << shown.toStdString();
    } else if (json.isArray()) {
        QStringList parts;
        for (const QJsonValue& v : json.toArray())
            parts << v.toString();
        EXPECT_EQ(shown, parts.join(QStringLiteral(", ")));
    } else {
        EXPECT_EQ(shown, json.toString());
    }
}

// Every data-field of the HTML against the JSON: in a row, the field of
// that row of its list; elsewhere the top level's (the recommendation and
// the methods from theirs). Returns how many values were compared.
int compareHtmlWithJson(const QByteArray& html, const QJsonObject& json)
{
    QXmlStreamReader xml(html);
    QString list;
    int index = -1, compared = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QStringLiteral("tr"))
            list.clear();
        if (!xml.isStartElement())
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.hasAttribute("data-list")) {
            list = a.value("data-list").toString();
            index = a.value("data-index").toInt();
            continue;
        }
        if (!a.hasAttribute("data-field"))
            continue;
        const QString field = a.value("data-field").toString();
        const bool inRow = !list.isEmpty();
        const QString shown = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        QJsonValue expected;
        if (inRow && list == QStringLiteral("rungs"))
            expected = json["ladder"]["rungs"][index][field];
        else if (inRow)
            expected = json[list][index][field];
        else if (field == QStringLiteral("recommendation"))
            expected = json["ladder"]["recommendation"];
        else if (field == QStringLiteral("methods"))
            expected = json["methods"]["text"];
        else if (field == QStringLiteral("date"))
            expected = QDate::fromString(json["date"].toString(), Qt::ISODate).toString(QStringLiteral("d.M.yyyy"));
        else
            expected = json[field];
        QString where = QStringLiteral("%1[%2].%3").arg(list).arg(index).arg(field);
        expectShown(shown, expected, where);
        ++compared;
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return compared;
}

TEST(SeriesReport, RanksShuffledMarkedScansAndWritesTheSameValuesAsHtmlAndJson)
{
    QTemporaryDir dir;
    // Printed at 300 dpi, a module is 3 pixels: a printer that widens the
    // bars by 2 pixels prints bars 2/3 of a module too wide, which the
    // reference decode does not read; a blurred scan lowers the grade of a page that still
    // decodes.
    const struct {
        PrintPage page;
        int gain;
        double blurMm;
        bool marked;
    } sheets[] = {
        {page("Samsung 2"), 2, 0.02, true},
        {ladderPrintPage(0), 1, 0.02, true},
        {page("Valkea 3 (bf)"), 1, 0.09, true},
        {page("Samsung 3"), 0, 0.02, false},
        {page("Valkea 1 (perus)"), 1, 0.02, true},
    };
    std::vector<report::ScanInput> inputs;
    for (const auto& s : sheets) {
        const std::string number = unmarkedPageIdentity(s.page).n;
        const std::string n = (number.empty() ? "21" : number) + "/21"; // the ladder comes last
        const QImage image = seriesPageScan(s.page, n, 300, s.gain, {.dpi = 600, .blurSigmaMm = s.blurMm}, s.marked);
        const QString path = dir.filePath(QStringLiteral("scan%1.png").arg(inputs.size() + 1));
        ASSERT_TRUE(image.save(path));
        inputs.push_back({path, s.marked ? std::nullopt : std::optional(unmarkedPageIdentity(s.page))});
    }
    const QString notAnImage = dir.filePath(QStringLiteral("muistio.png"));
    QFile text(notAnImage);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("ei kuva") > 0);
    text.close();
    inputs.push_back({notAnImage, std::nullopt});

    const std::vector<report::ScannedPage> scans = report::gradeSeries(inputs, {.threads = 2});
    ASSERT_EQ(scans.size(), inputs.size());
    const report::SeriesReport series = report::rankSeries(scans, {QDate(2026, 12, 8), std::nullopt});
    EXPECT_EQ(series.scans, 6);
    EXPECT_EQ(series.graded, 5);
    EXPECT_EQ(report::seriesStatus(series), 2); // the file that is not an image

    ASSERT_TRUE(series.ladder);
    EXPECT_EQ(series.ladder->recommendedPx, 1);
    ASSERT_EQ(series.pages.size(), 3u);
    EXPECT_EQ(series.pages[0].caption.toStdString(), "Valkea 1 (perus)");
    EXPECT_EQ(series.pages[0].letter, 'A');
    EXPECT_EQ(series.pages[2].caption.toStdString(), "Valkea 3 (bf)"); // the blurred scan
    EXPECT_LT(series.pages[2].grade, series.pages[1].grade);
    EXPECT_EQ(series.pages[1].pageSource, report::PageSource::User); // named on the command line
    ASSERT_EQ(series.undecoded.size(), 1u);
    EXPECT_EQ(series.undecoded[0].caption.toStdString(), "Samsung 2");
    EXPECT_FALSE(series.undecoded[0].decodeFailure.isEmpty()); // the reason the report gives
    ASSERT_EQ(series.unread.size(), 1u);
    EXPECT_TRUE(series.unread[0].badInput);
    EXPECT_EQ(series.printers, QStringList{QStringLiteral("muisti")});

    const QJsonObject json = QJsonDocument::fromJson(report::seriesJson(series)).object();
    EXPECT_GT(compareHtmlWithJson(report::seriesHtml(series), json), 60);
}

} // namespace
} // namespace raitakone
