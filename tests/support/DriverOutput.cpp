#include "support/DriverOutput.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <vector>

namespace raitakone::testing {
namespace {

QImage blankBitmap(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    return image;
}

void copyRow(QImage& image, int y, const std::vector<uchar>& row)
{
    std::memcpy(image.scanLine(y), row.data(), std::min<size_t>(row.size(), size_t(image.bytesPerLine())));
}

int hexValue(char c) { return std::isdigit(uchar(c)) ? c - '0' : c - 'A' + 10; }

} // namespace

QImage zplGraphic(const QByteArray& zpl)
{
    const qsizetype start = zpl.indexOf("~DG");
    if (start < 0)
        return {};
    const QList<QByteArray> fields = zpl.mid(start + 3, 64).split(',');
    if (fields.size() < 4)
        return {};
    const int total = fields[1].toInt(), perRow = fields[2].toInt();
    if (perRow <= 0 || total <= 0 || total % perRow)
        return {};
    qsizetype at = start + 3 + fields[0].size() + fields[1].size() + fields[2].size() + 3;

    const int rows = total / perRow, nibbles = 2 * perRow;
    QImage image = blankBitmap(8 * perRow, rows);
    std::vector<uchar> row(size_t(perRow), 0), previous(size_t(perRow), 0);
    int y = 0, filled = 0, repeat = 0;
    const auto put = [&](int nibble, int times) {
        for (; times > 0 && filled < nibbles; --times, ++filled)
            row[size_t(filled / 2)] = uchar(filled % 2 ? (row[size_t(filled / 2)] & 0xF0) | nibble : nibble << 4);
    };
    const auto endRow = [&] {
        copyRow(image, y++, row);
        previous = row;
        std::fill(row.begin(), row.end(), 0);
        filled = 0;
    };
    for (; at < zpl.size() && y < rows; ++at) {
        const char c = zpl[at];
        if (c >= 'G' && c <= 'Y')
            repeat += c - 'G' + 1;
        else if (c >= 'g' && c <= 'z')
            repeat += 20 * (c - 'g' + 1);
        else if (std::isxdigit(uchar(c)) && !std::islower(uchar(c))) {
            put(hexValue(c), repeat ? repeat : 1);
            repeat = 0;
        } else if (c == ',' || c == '!') {
            put(c == ',' ? 0 : 0xF, nibbles);
            repeat = 0;
        } else if (c == ':') {
            row = previous;
            filled = nibbles;
        } else if (c == '^' || c == '~')
            break;
        if (filled == nibbles)
            endRow();
    }
    return y == rows ? image : QImage();
}

PclPage pclRaster(const QByteArray& pcl)
{
    PclPage page;
    int units = 300, widthPx = 0, mode = 0;
    double x = 0, y = 0; // the cursor, in raster pixels once the resolution is known
    std::vector<std::vector<uchar>> rows;
    bool started = false, unreadable = false;
    const char* p = pcl.constData();
    const char* const end = p + pcl.size();
    while (p < end && !unreadable) {
        if (*p != '\x1b' || p + 1 >= end) {
            ++p;
            continue;
        }
        const char parameterised = p[1];
        if (parameterised < 0x21 || parameterised > 0x2f) {
            p += 2; // a two-character escape (ESC E)
            continue;
        }
        p += 2;
        char group = 0;
        if (p < end && *p >= 0x60 && *p <= 0x7e)
            group = *p++;
        for (bool more = true; more && p < end;) {
            const char* value = p;
            while (p < end && (std::isdigit(uchar(*p)) || *p == '+' || *p == '-' || *p == '.'))
                ++p;
            if (p >= end)
                break;
            const bool relative = *value == '+' || *value == '-';
            double v = 0;
            std::from_chars(value + (*value == '+'), p, v);
            const char terminator = char(std::toupper(uchar(*p)));
            more = std::islower(uchar(*p));
            ++p;
            const auto is = [&](char a, char b, char t) { return parameterised == a && group == b && terminator == t; };
            const auto moveTo = [&](double& axis, double px) { axis = relative ? axis + px : px; };
            const double dpi = page.dpi ? page.dpi : 300;
            if (is('*', 't', 'R'))
                page.dpi = int(v);
            else if (is('&', 'u', 'D'))
                units = int(v);
            else if (is('*', 'r', 'S'))
                widthPx = int(v);
            else if (is('*', 'b', 'M'))
                mode = int(v);
            else if (is('&', 'a', 'H'))
                moveTo(x, v * dpi / 720);
            else if (is('&', 'a', 'V'))
                moveTo(y, v * dpi / 720);
            else if (is('*', 'p', 'X'))
                moveTo(x, v * dpi / units);
            else if (is('*', 'p', 'Y'))
                moveTo(y, v * dpi / units);
            else if (is('*', 'r', 'C') || is('*', 'r', 'B')) {
                if (!rows.empty())
                    p = end; // the first page's raster is all we read
            } else if (is('*', 'b', 'Y') || is('*', 'b', 'W')) {
                if (!started)
                    page.origin = QPoint(int(x + 0.5), int(y + 0.5));
                started = true;
                if (terminator == 'Y') {
                    rows.resize(rows.size() + size_t(v));
                    continue;
                }
                const size_t length = std::min<size_t>(size_t(v), size_t(end - p));
                std::vector<uchar> row;
                if (mode == 0)
                    row.assign(p, p + length);
                else if (mode == 2) // TIFF PackBits
                    for (size_t i = 0; i < length;) {
                        const int control = uchar(p[i++]);
                        if (control < 128) {
                            const size_t n = std::min<size_t>(size_t(control) + 1, length - i);
                            row.insert(row.end(), p + i, p + i + n);
                            i += n;
                        } else if (control > 128 && i < length)
                            row.insert(row.end(), size_t(257 - control), uchar(p[i++]));
                    }
                else
                    unreadable = true;
                rows.push_back(std::move(row));
                p += length;
            }
        }
    }
    if (unreadable || rows.empty())
        return {};
    size_t widest = 0;
    for (const auto& row : rows)
        widest = std::max(widest, row.size());
    page.rows = blankBitmap(widthPx > 0 ? widthPx : int(8 * widest), int(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i)
        copyRow(page.rows, int(i), rows[i]);
    // Bits past the raster's width are padding, not ink.
    if (const int rest = page.rows.width() % 8)
        for (int i = 0; i < page.rows.height(); ++i)
            page.rows.scanLine(i)[page.rows.width() / 8] &= uchar(0xFF << (8 - rest));
    return page;
}

} // namespace raitakone::testing
