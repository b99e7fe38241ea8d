#include "support/ChildProcess.h"

#include <QGuiApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

namespace {

// Asked to run in a locale this machine lacks (fi_FI.UTF-8 before
// scripts/setup.sh generated it), the cases would quietly run in C instead.
class LocaleMissing : public ::testing::Environment {
public:
    void SetUp() override { GTEST_SKIP() << "the locale " << std::getenv("LC_ALL") << " is not installed here"; }
};

} // namespace

// Text rendering needs a GUI application (the font database); the tests run
// it on the offscreen platform, with QLocale's default the C locale and the
// C library's the environment's, as the program has it.
// Run as a test's child process, the program plays its role instead.
int main(int argc, char** argv)
{
    if (const std::optional<int> status = raitakone::testing::playChildRole(argc, argv))
        return *status;
    const bool localeMissing = std::getenv("LC_ALL") && !std::setlocale(LC_ALL, "");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    if (localeMissing)
        ::testing::AddGlobalTestEnvironment(new LocaleMissing);
    return RUN_ALL_TESTS();
}
