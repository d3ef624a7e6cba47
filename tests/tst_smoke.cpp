// Placeholder smoke test: the window comes up and the port opens on a pty.
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QtTest>

class tst_Smoke : public QObject
{
    Q_OBJECT
private slots:
    void opensOnPty()
    {
        PtyPair pty;
        QVERIFY(pty.isOpen());
        MainWindow w;
        QVERIFY(openPortOn(w, pty.slavePath()));
        windowPort(w)->write("abc");
        QVERIFY(pty.waitForReceived(3, 1000));
        QCOMPARE(pty.received(), QByteArray("abc"));
        widget<QAction>(w, "actionClose")->trigger();
    }
};

QTEST_MAIN(tst_Smoke)
#include "tst_smoke.moc"
