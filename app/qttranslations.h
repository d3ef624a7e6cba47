#pragma once

// Qt's own texts (file dialogs, the standard buttons of message boxes) in
// Chinese where the bench is Chinese. The program's own texts are written in
// Chinese and need no catalogue.

#include <QLocale>

class QCoreApplication;
class QTranslator;

// Installs Qt's Chinese catalogue into app when locale is Chinese, and always
// on Windows, where the benches run a Chinese system whatever its settings
// say. Returns the installed translator (app owns it), or null.
QTranslator *installQtTranslations(QCoreApplication *app,
                                   const QLocale &locale = QLocale::system());
