#include "desktop/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallKoreanQtTexts(QCoreApplication& app) {
    // Owned by the application, so it lives as long as any text is translated.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
