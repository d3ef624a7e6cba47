// Qt's own Chinese texts, from the catalogue built into the program.

#include "app/qttranslations.h"

#include <QCoreApplication>
#include <QTranslator>

// qttranslations.qrc is made at configure time from Debian's catalogue of
// qtbase (app/CMakeLists.txt); the window library holds it. The resource's
// initialiser must be called from outside any namespace.
static void initTranslationResource()
{
    Q_INIT_RESOURCE(qttranslations);
}

QTranslator *installQtTranslations(QCoreApplication *app, const QLocale &locale)
{
#ifdef Q_OS_WIN
    Q_UNUSED(locale)
    const bool chinese = true;
#else
    const bool chinese = locale.language() == QLocale::Chinese;
#endif
    if (!chinese)
        return nullptr;
    initTranslationResource();
    auto *translator = new QTranslator(app);
    if (!translator->load(QStringLiteral(":/translations/qtbase_zh_CN.qm"))
        || !app->installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
