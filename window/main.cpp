#include <QApplication>

#include "platform/appfolder.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/pictures.h"
#include "platform/translation.h"
#include "platform/files.h"
#include "window/frmpicture.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    InstallKoreanQtTexts(app);  // without it Qt's own texts stay English
    QtMessageBox messages;
    PosixFileSystem files;
    QtPictureService pictures;
    QtFileDialog cdPic;
    frmPicture w({messages, files, pictures, cdPic, ApplicationFolder()});
    // A failed start has been reported already; the window is never shown.
    if (!w.Loaded()) return 1;
    w.show();
    return app.exec();
}
