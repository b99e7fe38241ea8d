// The program in the locale its users run: Qt sets the C library's locale
// from the environment, so under fi_FI.UTF-8 anything printf or strtod writes
// or reads has a decimal comma. Files for machines must not change a byte;
// numbers for people are Finnish; numbers from people are taken either way.

#include "app/Controls.h"
#include "marking/PageIdentity.h"
#include "printing/FilePrinter.h"
#include "support/FinnishLocale.h"
#include "surface/PictureSurface.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace raitakone {
namespace {

#define REQUIRE_FINNISH_LOCALE(locale)                                                                     \
    testing::FinnishLocale locale;                                                                         \
    if (!locale.available())                                                                               \
    GTEST_SKIP() << "fi_FI.UTF-8 is not installed here (scripts/setup.sh generates it)"

// Every page of the series from the page-file printer into the folder.
void printSeries(const QString& folder, const Paper& paper)
{
    PrinterSurface printer([&] { return std::make_unique<FilePrinter>(folder.toStdString(), 300, 300, paper); });
    PictureSurface preview(kPictureWidth, kPictureHeight);
    for (const PrintPage& page : allPrintPages())
        printPage(page, printer, preview, [] {}, [](const std::string&) {});
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Poppler's page size of the PDF in points, with whatever it complained of.
std::string popplerPageSize(const QString& pdf)
{
    QProcess pdfinfo;
    pdfinfo.start("pdfinfo", {pdf});
    if (!pdfinfo.waitForFinished(30000))
        return "pdfinfo did not finish";
    const QString errors = QString::fromUtf8(pdfinfo.readAllStandardError()).trimmed();
    const auto size = QRegularExpression("Page size: +([0-9.]+) x ([0-9.]+) pts").match(pdfinfo.readAllStandardOutput());
    if (!size.hasMatch())
        return "no page size" + (errors.isEmpty() ? std::string() : ": " + errors.toStdString());
    return QString("%1 x %2").arg(size.captured(1).toDouble(), 0, 'f', 1).arg(size.captured(2).toDouble(), 0, 'f', 1)
               .toStdString() + (errors.isEmpty() ? "" : " (" + errors.toStdString() + ")");
}

TEST(FinnishLocale, EveryPagesFilesAreTheBytesOfTheCLocaleAndPopplerReadsTheirSize)
{
    const struct {
        const char* paper;
        const char* points;
    } papers[] = {{"A4", "595.3 x 841.9"}, {"101,6x152,4mm", "288.0 x 432.0"}};
    for (const auto& p : papers) {
        SCOPED_TRACE(p.paper);
        QTemporaryDir inC, inFinnish;
        const std::optional<Paper> paper = parsePaper(p.paper);
        ASSERT_TRUE(paper);
        printSeries(inC.path(), *paper);
        {
            REQUIRE_FINNISH_LOCALE(finnish);
            printSeries(inFinnish.path(), *paper);
        }
        const QStringList files = QDir(inC.path()).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(files.size(), 2 * int(allPrintPages().size()));
        for (const QString& file : files) {
            EXPECT_EQ(readFile(inFinnish.filePath(file)), readFile(inC.filePath(file))) << file.toStdString();
            if (file.endsWith(".pdf"))
                EXPECT_EQ(popplerPageSize(inFinnish.filePath(file)), p.points) << file.toStdString();
        }
    }
}

TEST(FinnishLocale, NumbersForPeopleHaveACommaAndNumbersFromPeopleEither)
{
    REQUIRE_FINNISH_LOCALE(finnish);
    const struct {
        const char* typed;
        const char* shown; // empty: refused
        const char* option;
    } papers[] = {
        {"A4", "A4, 210 × 297 mm", "A4"},
        {"101.6x152.4mm", "101,6 × 152,4 mm", "101.6x152.4mm"},
        {"101,6x152,4mm", "101,6 × 152,4 mm", "101.6x152.4mm"},
        {"4x6in", "4x6in, 101,6 × 152,4 mm", "4x6in"},
        {"101.6.1x150mm", "", ""},
        {"101;6x150mm", "", ""},
        {"1e2x150mm", "", ""},
    };
    for (const auto& p : papers) {
        const std::optional<Paper> paper = parsePaper(p.typed);
        EXPECT_EQ(paper ? paper->description() : "", p.shown) << p.typed;
        EXPECT_EQ(paper ? paper->optionText() : "", p.option) << p.typed;
    }

    // The mark's payload is read by another program, maybe in another locale.
    marking::PageIdentity page{"Command10:0", "Valkea 1 (perus)", "tarrat", 203.2, 406.4, 102, 152,
                               "2026-12-09T10:00:00+02:00", "0badcafe", "1/20", {}};
    const std::string payload = marking::markPayload(page);
    EXPECT_NE(payload.find(";dpi=203.2x406.4;"), std::string::npos) << payload;
    EXPECT_EQ(marking::parseMarkPayload(payload), page);
}

} // namespace
} // namespace raitakone
