#include "app/Controls.h"

#include "ladder/LadderPage.h"
#include "surface/RuntimeError.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace raitakone {
namespace {

// Every control of the window, in tab order.
const ControlRow kControls[] = {
    {"Command1", -1, "Command1", 8760, 60, 2535, 675},
    {"Command2", -1, "Command2", 8760, 840, 2535, 615},
    {"Command3", -1, "Command3", 8760, 1560, 2535, 555},
    {"picViivakoodi", -1, nullptr, 240, 5640, 11055, 1335},
    {"Command4", -1, "Viivakodi PK DrawWidth", 120, 0, 2175, 975},
    {"Command5", -1, "Viivakoodi 30.11.", 120, 1140, 1695, 1095},
    {"Command6", -1, "Command6", 120, 2880, 1695, 1335},
    {"Command7", 0, "1 00", 3960, 60, 735, 495},
    {"Command7", 1, "2 10", 3960, 660, 735, 495},
    {"Command7", 2, "3 01", 3960, 1260, 735, 495},
    {"Command7", 3, "4 11", 3960, 1860, 735, 435},
    {"Command8", -1, "Poistu", 8760, 2280, 2535, 1095},
    {"Command9", -1, "OK ", 2400, 2820, 1095, 675},
    {"Command10", 0, "Valkea 1 (perus)", 4920, 60, 1695, 495},
    {"Command10", 1, "Valkea 2  (rgb+bf)", 4920, 660, 1695, 495},
    {"Command10", 2, "Valkea 3 (bf)", 4920, 1260, 1695, 495},
    {"Command10", 3, "Valkea 4 (rgb)", 4920, 1860, 1695, 435},
    {"Command11", 0, "Samsung 1", 6840, 60, 1575, 495},
    {"Command11", 1, "Samsung 2", 6840, 660, 1575, 495},
    {"Command11", 2, "Samsung 3", 6840, 1260, 1575, 495},
    {"Command11", 3, "Samsung 4", 6840, 1860, 1575, 495},
    {"Command11", 4, "Samsung 5", 6840, 2460, 1575, 495},
    {"Command12", -1, "twips", 3720, 2520, 2415, 735},
    {"Command13", -1, "twips 1", 2400, 60, 1335, 495},
    {"Command14", -1, "twips 2", 2400, 660, 1335, 495},
    {"Command15", -1, "twips 3", 2400, 1320, 1335, 495},
};

constexpr const char* kTransferPage = "siirra";

// The buttons whose click prints a page.
bool printsPage(int command)
{
    switch (command) {
    case 3: case 4: case 5: case 7: case 10: case 11: case 13: case 14: case 15:
        return true;
    default:
        return false;
    }
}

std::vector<PrintPage> makePrintPages()
{
    std::vector<PrintPage> pages;
    for (const ControlRow& control : kControls)
        if (std::optional<PrintPage> page = printPageOf(control))
            pages.push_back(*page);
    pages.push_back({kTransferPage, -1, kTransferPage});
    return pages;
}

} // namespace

int commandNumber(std::string_view controlName)
{
    constexpr std::string_view prefix = "Command";
    if (!controlName.starts_with(prefix))
        return 0;
    const std::string digits(controlName.substr(prefix.size()));
    return digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ? 0 : std::stoi(digits);
}

std::span<const ControlRow> form1Controls() { return kControls; }

std::string PrintPage::name() const { return index < 0 ? control : control + ":" + std::to_string(index); }

std::optional<int> seriesPlaceOf(const std::string& name)
{
    const std::span<const PrintPage> pages = allPrintPages();
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i].name() == name)
            return int(i + 1);
    return std::nullopt;
}

std::string controlHint(const ControlRow& control)
{
    const int index = control.index;
    switch (commandNumber(control.name)) {
    case 1: return "Näyttää tulostimen pikselin koon twipseinä (vaaka - pysty).";
    case 2: return "Näyttää palkkikuvion pituuden moduuleina.";
    case 3: return "Piirtää viivakoodin esikatseluun, tulostaa sen päällekkäisinä yhden pikselin viivoina ja lopettaa "
                   "sitten ohjelman.";
    case 4: return "Tulostaa palkit täytettyinä laatikkoina senttimetreinä ja lopettaa sitten ohjelman.";
    case 5: return "Tulostaa viivakoodin tulostusalueen kulmaan lähes mustalla täytöllä.";
    case 6: return "Näyttää moduulin leveyden tulostimen pikseleinä.";
    case 7: {
        // The caption's first digit is the fill, the second the outline: 0 black, 1 one step off.
        const auto colour = [](bool nearBlack) { return nearBlack ? "lähes musta" : "musta"; };
        return std::string("Palkit laatikkoina: täyttö ") + colour(index & 1) + ", reunaviiva " + colour(index & 2) +
               ".";
    }
    case 8: return "Lopettaa ohjelman.";
    case 10: {
        static const char* const forms[] = {"laatikkoina", "täytettyinä laatikkoina, väri annettuna",
                                            "täytettyinä laatikkoina", "laatikkoina, väri annettuna"};
        return std::string("Palkit moduulin levyisellä kynällä ") + forms[std::clamp(index, 0, 3)] +
               ", koordinaatit tulostimen pikseleinä.";
    }
    case 11:
        if (index == 0)
            return "Palkit pikseleinä; yksikkö vaihdetaan pikseleiksi vasta kynän leveyden jälkeen.";
        return std::string("Palkit pikseleinä; yksikkö vaihdetaan pikseleiksi aluksi") +
               (index == 1 ? "." : index == 2 ? ", tulostuslaatu −1." : index == 3 ? ", tulostuslaatu −2." : ", tulostuslaatu −3.");
    case 13:
    case 14:
    case 15: return "Palkit twipseinä annetusta kohdasta; alla teksti tulostimen pikselikoosta ja sivun mitoista.";
    default: return {};
    }
}

std::span<const PrintPage> allPrintPages()
{
    static const std::vector<PrintPage> pages = makePrintPages();
    return pages;
}

std::optional<PrintPage> printPageOf(const ControlRow& control)
{
    if (control.caption == nullptr || !printsPage(commandNumber(control.name)))
        return std::nullopt;
    return PrintPage{control.name, control.index, control.caption};
}

std::optional<PrintPage> findPrintPage(const std::string& name)
{
    for (const PrintPage& page : allPrintPages())
        if (page.name() == name || page.caption == name)
            return page;
    return std::nullopt;
}

std::string deliveryText(const Delivery& delivery)
{
    if (!delivery.file.empty())
        return "→ " + delivery.file;
    return "→ " + delivery.queue + ", työ " + std::to_string(delivery.job);
}

void printPage(const PrintPage& page, PrinterSurface& Printer, Surface& picViivakoodi, const EndProgram& end,
               const ShowMessage& message)
{
    Printer.setJobTitle("Raitakone: " + page.caption);
    const auto index = int16_t(page.index);
    if (page.control == kTransferPage)
        return siirra(Printer);
    if (page.control == kLadderControl)
        return ladder::printLadderSheet(Printer, std::max(0, page.index));
    switch (commandNumber(page.control)) {
    case 3: return Command3_Click(picViivakoodi, Printer, end);
    case 4: return Command4_Click(Printer, end);
    case 5: return Command5_Click(Printer);
    case 7: return Command7_Click(Printer, index, message);
    case 10: return Command10_Click(Printer, index);
    case 11: return Command11_Click(Printer, index);
    case 13: return Command13_Click(Printer);
    case 14: return Command14_Click(Printer);
    case 15: return Command15_Click(Printer);
    default: throw RuntimeError("Tuntematon sivu " + page.name());
    }
}

} // namespace raitakone
