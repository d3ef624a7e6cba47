// Entry point: the one window, centred, with the build time in its title.

#include "app/mainwindow.h"
#include "app/buildstamp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);
    MainWindow window;

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    window.setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(), screen));
    window.setWindowTitle(QStringLiteral("FeederBench[1.0]"));
    window.setWindowTitle(titleWithBuildStamp(window.windowTitle(), __DATE__, __TIME__));

    window.show();
    return app.exec();
}
