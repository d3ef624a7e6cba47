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
    QCoreApplication::setApplicationName(QStringLiteral("feederbench-cli"));
    return runCommandLine(app.arguments().mid(1));
}
