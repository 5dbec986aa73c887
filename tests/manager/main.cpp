#include <QApplication>
#include <gtest/gtest.h>

#include "desktop/translation.h"
#include "os/child_process.h"
#include "os/leftovers.h"

// Widgets need an application object for the whole run; Qt's own texts are
// Korean as in the program. A backup starts a watcher; where children are the
// program started again (Windows), it runs here, before any window exists.
int main(int argc, char** argv) {
    if (auto status = RunChildTask(argc, argv, {&LeftoverFiles::WatcherTask()})) return *status;
    QApplication app(argc, argv);
    InstallKoreanQtTexts(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
