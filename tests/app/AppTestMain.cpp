// Runs the window's tests inside one QApplication on the offscreen platform, styled and coloured as
// the recorder runs. Listing the tests needs no application (the build lists them without a display).
#include "app/RecorderApp.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(velmar::DialogPalette());
    return RUN_ALL_TESTS();
}
