#include "app/PageSeries.h"

#include "ladder/LadderPage.h"

#include <algorithm>

namespace raitakone {

PrintPage ladderPrintPage(int sheet) { return {kLadderControl, sheet, ladder::kLadderCaption}; }

bool isLadderPage(const PrintPage& page) { return page.control == kLadderControl; }

std::vector<PrintPage> withLadderSheets(const std::vector<PrintPage>& pages, PrinterSurface& printer)
{
    std::vector<PrintPage> sheets;
    for (const PrintPage& page : pages) {
        if (!isLadderPage(page) || page.index >= 0) {
            sheets.push_back(page);
            continue;
        }
        const size_t count = ladder::ladderLayout(printer.pageGeometry()).sheets.size();
        printer.releasePrinter();
        for (size_t sheet = 0; sheet < count; ++sheet)
            sheets.push_back(ladderPrintPage(int(sheet)));
    }
    return sheets;
}

marking::PageLabel markLabel(const PrintPage& page, const std::string& n, PrinterSurface& printer)
{
    if (!isLadderPage(page))
        return {page.name(), page.caption, n, {}};
    const ladder::LadderLayout layout = ladder::ladderLayout(printer.pageGeometry());
    const size_t sheet = size_t(std::max(0, page.index));
    return {kLadderControl, page.caption, n, sheet < layout.sheets.size() ? layout.sheets[sheet] : std::vector<int>{}};
}

void printMarkedPage(const PrintPage& page, bool marked, marking::PageMarker& marker, const std::string& n,
                     PrinterSurface& Printer, Surface& picViivakoodi, const EndProgram& end,
                     const ShowMessage& message)
{
    if (marked || isLadderPage(page))
        marker.markNext(Printer, markLabel(page, n, Printer));
    else
        Printer.setPageFinisher({});
    printPage(page, Printer, picViivakoodi, end, message);
}

marking::PageIdentity unmarkedPageIdentity(const PrintPage& page)
{
    marking::PageIdentity identity;
    identity.control = page.name();
    identity.caption = page.caption;
    const std::span<const PrintPage> series = allPrintPages();
    const auto at = std::find_if(series.begin(), series.end(),
                                 [&page](const PrintPage& p) { return p.name() == page.name(); });
    if (at != series.end())
        identity.n = std::to_string(at - series.begin() + 1);
    return identity;
}

} // namespace raitakone
