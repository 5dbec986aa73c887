#include <QApplication>

#include "desktop/appfolder.h"
#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "pictures/pictures.h"
#include "desktop/translation.h"
#include "os/files.h"
#include "os/leftovers.h"
#include "window/frmpicture.h"

int main(int argc, char* argv[]) {
    // A child this program started of itself (Windows): its task, and nothing else.
    if (auto status = RunChildTask(argc, argv, {&LeftoverFiles::WatcherTask()})) return *status;
    QApplication app(argc, argv);
    InstallKoreanQtTexts(app);  // without it Qt's own texts stay English
    QtMessageBox messages;
    LocalFileSystem files;
    QtPictureService pictures;
    QtFileDialog cdPic;
    frmPicture w({messages, files, pictures, cdPic, ApplicationFolder()});
    // A failed start has been reported already; the window is never shown.
    if (!w.Loaded()) return 1;
    w.show();
    return app.exec();
}
