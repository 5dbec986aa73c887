#include "desktop/appfolder.h"

#include <QCoreApplication>

std::string ApplicationFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
    return dir.toStdString();
}
