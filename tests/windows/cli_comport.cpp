// feederbench-cli for the end-to-end test under Wine (scripts/test-wine.sh):
// the program's own command line, linked with the aid that makes Wine 8's
// serial event waits end as on Windows (wine_comm_wait.cpp). The shipped
// feederbench-cli.exe is not touched.

#include "cli/commandline.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return runCommandLine(app.arguments().mid(1));
}
