// feederbench-cli: the bench's work from a command line.

#include "cli/commandline.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // The messages are written as UTF-8; the console shows them so.
    SetConsoleOutputCP(CP_UTF8);
#endif
    QCoreApplication app(argc, argv);
    // The window's name: the provisioning record and this bench's own
    // settings are looked for where the window keeps them.
    QCoreApplication::setApplicationName(QStringLiteral("feederbench"));
    return runCommandLine(app.arguments().mid(1));
}
