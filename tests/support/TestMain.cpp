#include "support/ChildProcess.h"

#include <QGuiApplication>
#include <QLocale>

#include <gtest/gtest.h>

// Text rendering needs a GUI application (the font database); the tests run
// it on the offscreen platform and in the C locale unless a test says other.
// Run as a test's child process, the program plays its role instead.
int main(int argc, char** argv)
{
    if (const std::optional<int> status = raitakone::testing::playChildRole(argc, argv))
        return *status;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
