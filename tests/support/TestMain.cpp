#include <QGuiApplication>
#include <QLocale>

#include <gtest/gtest.h>

// Text rendering needs a GUI application (the font database); the tests run
// it on the offscreen platform and in the C locale unless a test says other.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
