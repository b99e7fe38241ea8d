#pragma once

// SANE's test backend for the window's tests, alone in a private
// configuration folder; its page is blank white. No backend at all when
// testConf is null. SANE finds its folder once in a process, so every case
// rewrites the same one.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace raitakone::testing {

inline void useTestScanner(const char* testConf)
{
    static QTemporaryDir folder;
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(folder.path()));
    QFile dll(folder.filePath("dll.conf")), test(folder.filePath("test.conf"));
    QVERIFY(dll.open(QIODevice::WriteOnly | QIODevice::Truncate) && test.open(QIODevice::WriteOnly | QIODevice::Truncate));
    dll.write(testConf ? "test\n" : "");
    test.write(QByteArray("geometry_max 40.0\ntest-picture \"Solid white\"\n") + (testConf ? testConf : ""));
}

} // namespace raitakone::testing
