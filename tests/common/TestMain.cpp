// Test entry point: every test process gets a QApplication on the offscreen
// platform and its own temporary XDG folders and TMPDIR, so no test ever reads
// or writes the real home.
#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);

    QTemporaryDir root(QDir::tempPath() + "/pictrel-test-XXXXXX");
    if (!root.isValid()) return 2;
    const auto makeDir = [&](const char* name) {
        const QString path = root.path() + "/" + name;
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        return path.toLocal8Bit();
    };
    setenv("XDG_CONFIG_HOME", makeDir("config").constData(), 1);
    setenv("XDG_DATA_HOME", makeDir("data").constData(), 1);
    setenv("XDG_CACHE_HOME", makeDir("cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", makeDir("runtime").constData(), 1);
    setenv("TMPDIR", makeDir("tmp").constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const std::unique_ptr<QApplication> app = pictrel::test::ApplicationFactory
                                                  ? pictrel::test::ApplicationFactory(argc, argv)
                                                  : std::make_unique<QApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
