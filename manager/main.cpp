// kaldoria-manager: 도장 관리, beside the stamp window.
#include <QApplication>

#include "desktop/appfolder.h"
#include "desktop/translation.h"
#include "manager/manager_window.h"
#include "os/leftovers.h"
#include "store/connection.h"

int main(int argc, char* argv[]) {
    // A child this program started of itself (Windows): its task, and nothing else.
    if (auto status = RunChildTask(argc, argv, {&LeftoverFiles::WatcherTask()})) return *status;
    QApplication app(argc, argv);
    InstallKoreanQtTexts(app);
    // The book of the program's own folder, as the stamp window opens it, or
    // the one named on the command line.
    const QStringList args = app.arguments();
    const std::string book = args.size() > 1 ? args[1].toStdString() : DatabasePath(ApplicationFolder());
    ManagerWindow window(book);
    window.show();
    return app.exec();
}
