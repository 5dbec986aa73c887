#include <QApplication>
#include <gtest/gtest.h>

#include "desktop/translation.h"

// Widgets need an application object for the whole run; Qt's own texts are
// Korean as in the program.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InstallKoreanQtTexts(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
