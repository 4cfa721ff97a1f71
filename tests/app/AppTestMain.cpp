// Runs the window's tests inside one QApplication on the offscreen platform, styled and coloured as
// the recorder runs, with settings of their own. Listing the tests needs no application (the build
// lists them without a display).
#include "app/RecorderApp.h"

#include <QApplication>
#include <QPalette>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    // The window remembers things in the user's settings: the tests keep theirs in a folder of their
    // own, under a name of their own, and never see or change the user's.
    const QTemporaryDir settingsFolder;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QApplication::setOrganizationName(QStringLiteral("velmar-tests"));
    QApplication::setApplicationName(QStringLiteral("app_tests"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(velmar::DialogPalette());
    return RUN_ALL_TESTS();
}
