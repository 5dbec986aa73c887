#pragma once
// Qt's own texts (dialog buttons and labels, the help headings of
// QCommandLineParser) in Korean like the rest of the program.
class QCoreApplication;

// Installs Qt's Korean translation (qtbase_ko: the system Qt's, or on Windows
// the one in translations/ beside the program) on `app`, whatever the
// system's language; call it before any widget exists. Returns false, and Qt
// keeps its English texts, when the translation is not installed.
bool InstallKoreanQtTexts(QCoreApplication& app);
