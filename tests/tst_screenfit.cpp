// The window on the screen it opens on: its geometry for a screen's available
// area, and, on a real (virtual) X screen of a bench PC's size, a window that
// lies within that area with every control reachable.
//
// scripts/test.sh starts an X server per screen size and names it in
// FEEDERBENCH_DISPLAY_<size>; CTest runs this program once per size with
// FEEDERBENCH_SCREEN=<size>. Without them the geometry rows run and the
// screen test is skipped.
#include "app/windowfit.h"
#include "support/windowdriver.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

static void initResources()
{
    Q_INIT_RESOURCE(images);
}

namespace {

// Chooses the X server that the test script started for this run's screen
// size, before the application connects to any.
void useVirtualScreen()
{
    const QByteArray screen = qgetenv("FEEDERBENCH_SCREEN");
    if (screen.isEmpty())
        return;
    const QByteArray display = qgetenv("FEEDERBENCH_DISPLAY_" + screen);
    if (display.isEmpty())
        return;
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The window needs no OpenGL: without a GL integration Qt loads none of
    // Mesa, so which driver Mesa would pick (llvmpipe's start-up leaves an
    // allocation behind at exit) plays no part in the test.
    qputenv("QT_XCB_GL_INTEGRATION", "none");
}

QRect globalRect(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// The controls an engineer works with; the parts of a combo or spin box are
// reached through the box.
bool isControl(QWidget *widget)
{
    for (QWidget *p = widget->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<QComboBox *>(p) || qobject_cast<QAbstractSpinBox *>(p))
            return false;
    return qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLineEdit *>(widget)
           || qobject_cast<QComboBox *>(widget) || qobject_cast<QAbstractSpinBox *>(widget);
}

} // namespace

class tst_ScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void geometryForTheAvailableArea_data();
    void geometryForTheAvailableArea();
    void windowFitsARealScreen();

private:
    QTemporaryDir m_workDir;
};

void tst_ScreenFit::initTestCase()
{
    initResources();
    QVERIFY(m_workDir.isValid());
    QVERIFY(QDir::setCurrent(m_workDir.path()));
}

void tst_ScreenFit::geometryForTheAvailableArea_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QList<int>>("frame"); // left, top, right, bottom
    QTest::addColumn<QRect>("geometry");
    const QList<int> titleBar{8, 32, 8, 8};
    const QList<int> none{0, 0, 0, 0};
    QTest::newRow("1920 x 1080 with a taskbar: 1400 x 900, centred")
        << QRect(0, 0, 1920, 1040) << titleBar << QRect(260, 82, 1400, 900);
    QTest::newRow("1366 x 768 laptop with a taskbar: the whole area")
        << QRect(0, 0, 1366, 728) << titleBar << QRect(8, 32, 1350, 688);
    QTest::newRow("1920 x 1080 at 150 %: 1280 x 720, panel at the top")
        << QRect(0, 27, 1280, 693) << titleBar << QRect(8, 59, 1264, 653);
    QTest::newRow("just room for 1400 x 900 and the frame")
        << QRect(0, 0, 1416, 940) << titleBar << QRect(8, 32, 1400, 900);
    QTest::newRow("wide and low: full height, preferred width, centred")
        << QRect(0, 0, 2560, 700) << none << QRect(580, 0, 1400, 700);
}

void tst_ScreenFit::geometryForTheAvailableArea()
{
    QFETCH(QRect, available);
    QFETCH(QList<int>, frame);
    QFETCH(QRect, geometry);
    const QMargins margins(frame.at(0), frame.at(1), frame.at(2), frame.at(3));
    QCOMPARE(fittedWindowGeometry(available, kWindowSize, margins), geometry);
}

void tst_ScreenFit::windowFitsARealScreen()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a virtual X screen: run through scripts/test.sh, which starts one");

    MainWindow w;
    fitWindowToScreen(&w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    qInfo("screen %dx%d, available %dx%d, window %dx%d", w.screen()->geometry().width(),
          w.screen()->geometry().height(), available.width(), available.height(), w.width(),
          w.height());

    QVERIFY2(available.contains(w.frameGeometry()), "the window is bigger than the screen");
    // Without a window manager there is no frame; the window was placed with
    // room for one, and that room is what is centred.
    const QRect outer = w.frameGeometry() == w.geometry()
                            ? w.geometry().marginsAdded(kFrameAllowance)
                            : w.frameGeometry();
    QVERIFY(available.contains(outer));
    QVERIFY(qAbs(outer.center().x() - available.center().x()) <= 1);
    QVERIFY(qAbs(outer.center().y() - available.center().y()) <= 1);
    if (available.width() >= kWindowSize.width() + 16
        && available.height() >= kWindowSize.height() + 40)
        QCOMPARE(w.size(), kWindowSize);
    QVERIFY(w.minimumWidth() <= w.width() && w.minimumHeight() <= w.height());

    for (QWidget *bar :
         {static_cast<QWidget *>(w.menuBar()), static_cast<QWidget *>(w.findChild<QToolBar *>()),
          static_cast<QWidget *>(w.statusBar())})
        QVERIFY2(available.contains(globalRect(bar)), qPrintable(bar->objectName()));

    QList<QWidget *> controls;
    const auto widgets = w.findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        if (widget->isVisibleTo(&w) && isControl(widget))
            controls << widget;
    QVERIFY(controls.size() > 40);
    const auto nameOf = [](const QWidget *control) {
        return control->objectName().isEmpty()
                   ? QString::fromLatin1(control->metaObject()->className())
                   : control->objectName();
    };

    // No control lies over another: a panel squeezed below its content's
    // minimum would pile its rows on each other.
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            QVERIFY2(!globalRect(controls.at(i)).intersects(globalRect(controls.at(j))),
                     qPrintable(nameOf(controls.at(i)) + QStringLiteral(" overlaps ")
                                + nameOf(controls.at(j))));

    // Every control can be brought into view, whole, inside the screen:
    // scrolled to where the content scrolls.
    auto *scroll = qobject_cast<QScrollArea *>(w.centralWidget());
    for (QWidget *control : qAsConst(controls)) {
        const QString name = nameOf(control);
        if (scroll && scroll->widget()->isAncestorOf(control)) {
            scroll->ensureWidgetVisible(control, 0, 0);
            QCoreApplication::processEvents();
        }
        const QRect place = globalRect(control);
        QVERIFY2(!place.isEmpty(), qPrintable(name));
        QVERIFY2(available.contains(place), qPrintable(name));
        for (QWidget *p = control->parentWidget(); p && p != &w; p = p->parentWidget())
            QVERIFY2(globalRect(p).contains(place),
                     qPrintable(name + QStringLiteral(" is cut off by ") + p->objectName()));
    }
}

int main(int argc, char *argv[])
{
    useVirtualScreen();
    QApplication app(argc, argv);
    tst_ScreenFit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
