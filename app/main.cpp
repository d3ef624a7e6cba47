// Entry point: the one window, fitted to the screen and centred on it, with
// the build time in its title.

#include "app/buildstamp.h"
#include "app/mainwindow.h"
#include "app/qttranslations.h"
#include "app/windowfit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);
    installQtTranslations(&app);
    MainWindow window;

    fitWindowToScreen(&window);
    window.setWindowTitle(QStringLiteral("FeederBench[1.0]"));
    window.setWindowTitle(titleWithBuildStamp(window.windowTitle(), __DATE__, __TIME__));

    window.show();
    return app.exec();
}
