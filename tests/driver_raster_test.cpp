// The resolution a driver's PPD makes CUPS rasterise at, read from small
// PPDs built like the drivers' own.

#include "printing/DriverRaster.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <string>

namespace raitakone {
namespace {

std::string ppdWith(const std::string& options)
{
    return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
           "*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
           "*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n*PSVersion: \"(3010.000) 0\"\n"
           "*LanguageLevel: \"3\"\n*ColorDevice: False\n*DefaultColorSpace: Gray\n*FileSystem: False\n"
           "*Throughput: \"1\"\n*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n"
           "*cupsFilter: \"application/vnd.cups-raster 0 rastertotest\"\n"
           "*OpenUI *PageSize: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: A4\n"
           "*PageSize A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n*CloseUI: *PageSize\n"
           "*DefaultImageableArea: A4\n*ImageableArea A4: \"18 12 577 830\"\n"
           "*DefaultPaperDimension: A4\n*PaperDimension A4: \"595 842\"\n" + options;
}

// Gutenprint sets the resolution in its quality after Resolution, hpcups in
// OutputMode alone; a PPD that sets none leaves it unknown.
TEST(DriverRaster, ResolutionAsThePpdSetsIt)
{
    const std::string resolution = "*OpenUI *Resolution: PickOne\n*OrderDependency: 10 AnySetup *Resolution\n"
                                   "*DefaultResolution: 600dpi\n"
                                   "*Resolution 300dpi: \"<</HWResolution[300 300]>>setpagedevice\"\n"
                                   "*Resolution 600dpi: \"<</HWResolution[600 600]>>setpagedevice\"\n"
                                   "*CloseUI: *Resolution\n";
    const std::string quality = "*OpenUI *StpQuality: PickOne\n*OrderDependency: 20 AnySetup *StpQuality\n"
                                "*DefaultStpQuality: Standard\n"
                                "*StpQuality Standard: \"<</HWResolution[300 300]>>setpagedevice\"\n"
                                "*StpQuality High: \"<</HWResolution[600 600]>>setpagedevice\"\n"
                                "*CloseUI: *StpQuality\n";
    const std::string outputMode = "*OpenUI *OutputMode: PickOne\n*OrderDependency: 10 AnySetup *OutputMode\n"
                                   "*DefaultOutputMode: Normal\n"
                                   "*OutputMode Normal: \"<</HWResolution[600 600]>>setpagedevice\"\n"
                                   "*OutputMode Draft: \"<</HWResolution[300 300]>>setpagedevice\"\n"
                                   "*CloseUI: *OutputMode\n";
    const struct {
        const char* what;
        std::string options;
        int printQuality;
        int dpi;
        const char* pinned;
        const char* mode;
    } cases[] = {
        {"Resolution alone", resolution, 0, 600, "", ""},
        {"a quality after it", resolution + quality, 0, 600, "StpQuality=High", "StpQuality=High"},
        {"a print quality keeps the driver's", resolution + quality, 4, 300, "", "StpQuality=Standard"},
        {"OutputMode alone", outputMode, 0, 600, "", "OutputMode=Normal"},
        {"nothing sets it", "*DefaultResolution: 600dpi\n", 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        file.write(QByteArray::fromStdString(ppdWith(c.options)));
        file.close();
        const std::optional<DriverRaster> raster = driverRasterOfPpd(file.fileName().toStdString(), "", c.printQuality);
        ASSERT_TRUE(raster.has_value());
        EXPECT_EQ(std::make_pair(raster->xdpi, raster->ydpi), std::make_pair(c.dpi, c.dpi));
        EXPECT_EQ(raster->pinnedOption.empty() ? "" : raster->pinnedOption + "=" + raster->pinnedChoice, c.pinned);
        EXPECT_EQ(raster->mode, c.mode);
    }
    EXPECT_FALSE(driverRasterOfPpd("/nonexistent.ppd", "").has_value());
}

} // namespace
} // namespace raitakone
