#include "desktop/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Where Qt's translations are: on Windows the application folder carries its
// own (translations/ beside the program, as the folder is copied whole to a
// PC that has no Qt installed); elsewhere the system's Qt has them.
QString TranslationsFolder() {
#ifdef _WIN32
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

}  // namespace

bool InstallKoreanQtTexts(QCoreApplication& app) {
    // Owned by the application, so it lives as long as any text is translated.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ko"), TranslationsFolder())) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
