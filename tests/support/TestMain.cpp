// Shared main of every test executable: a QApplication on the offscreen
// platform, so widget tests run headless, and a private registry folder, so no
// test ever touches the user's real settings.
#include "tests/support/TempDir.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TempDir registryDir("dialscope-test-registry");
    setenv("DIALSCOPE_REGISTRY_DIR", registryDir.path().c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dialscope"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
