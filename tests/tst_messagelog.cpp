// The two message windows: the red log lines, clearing, and saving the
// traffic window to a file.

#include "serial/messagelog.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLCDNumber>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

namespace {

const QDateTime kWhen(QDate(2024, 11, 7), QTime(9, 29, 33, 45));

QTextBrowser *traffic(MainWindow &w)
{
    return widget<QTextBrowser>(w, "textBrowser");
}

QTextBrowser *results(MainWindow &w)
{
    return widget<QTextBrowser>(w, "textBrowser_val");
}

void rightClick(QTextBrowser *browser)
{
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, browser->viewport()->mapToGlobal(at));
    QApplication::sendEvent(browser->viewport(), &event);
}

} // namespace

class tst_MessageLog : public QObject
{
    Q_OBJECT

private slots:
    void logLinesAreRedHtml_data();
    void logLinesAreRedHtml();

    void clearing_data();
    void clearing();

    void savingWritesThePlainText();
    void savingReplacesAnExistingFile();
    void savingToAPathThatCannotBeWritten();
    void savingAnEmptyWindowOnlyTellsSo();
    void cancellingTheDialogWritesNothing();
};

// The expected lines are written out from the log-line format: a red span,
// the time to the millisecond, the direction, the text, LF CR.
void tst_MessageLog::logLinesAreRedHtml_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("send 55 06 18 02 00 00 23 7E")
        << sendLogLine(kWhen, QStringLiteral("55 06 18 02 00 00 23 7E "))
        << QStringLiteral("<span style=\" color:red;\">[2024-11-07 09:29:33.045][发送]: "
                          "55 06 18 02 00 00 23 7E \n\r</span>");
    const unsigned char reply[] = {0x01, 0x06, 0x08, 0x05, 0x00, 0x0A};
    QTest::newRow("receive 01 06 08 05 00 0A in lower case")
        << receiveLogLine(kWhen, reply, 6)
        << QStringLiteral("<span style=\" color:red;\">[2024-11-07 09:29:33.045][接收]: "
                          "01 06 08 05 00 0a \n\r</span>");
    const unsigned char high[] = {0xFF, 0x80, 0x7F};
    QTest::newRow("receive FF 80 7F")
        << receiveLogLine(kWhen, high, 3)
        << QStringLiteral("<span style=\" color:red;\">[2024-11-07 "
                          "09:29:33.045][接收]: ff 80 7f \n\r</span>");
    QTest::newRow("a console line with markup shows as typed")
        << sendLogLine(kWhen, QStringLiteral("AT<CR>&"))
        << QStringLiteral("<span style=\" color:red;\">[2024-11-07 09:29:33.045][发送]: "
                          "AT&lt;CR&gt;&amp;\n\r</span>");
}

void tst_MessageLog::logLinesAreRedHtml()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(line, expected);
}

void tst_MessageLog::clearing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("clearsTraffic");
    QTest::addColumn<bool>("clearsResults");

    QTest::newRow("清除数据 beside the traffic window")
        << "pushButtonClearDataRecieve" << true << false;
    QTest::newRow("清除数据 beside the result window") << "pushButton_3" << false << true;
    QTest::newRow("right-click in the traffic window") << "textBrowser" << true << false;
    QTest::newRow("right-click in the result window") << "textBrowser_val" << false << true;
}

void tst_MessageLog::clearing()
{
    QFETCH(QString, how);
    QFETCH(bool, clearsTraffic);
    QFETCH(bool, clearsResults);

    MainWindow w;
    traffic(w)->append(sendLogLine(kWhen, QStringLiteral("01 03")));
    results(w)->append(QStringLiteral("模块[1]合闸成功"));
    auto *receiveDisplay = widget<QLCDNumber>(w, "lcdNumberRecieve");
    receiveDisplay->display(7);

    if (auto *button = w.findChild<QPushButton *>(how))
        button->click();
    else
        rightClick(w.findChild<QTextBrowser *>(how));

    QCOMPARE(traffic(w)->toPlainText().isEmpty(), clearsTraffic);
    QCOMPARE(results(w)->toPlainText().isEmpty(), clearsResults);
    QCOMPARE(receiveDisplay->intValue(), 7);
}

void tst_MessageLog::savingWritesThePlainText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.txt"));
    MainWindow w;
    traffic(w)->clear();
    traffic(w)->append(sendLogLine(kWhen, QStringLiteral("55 03 07 04 00 01 C9 6B ")));
    const unsigned char reply[] = {0x55, 0x03, 0x02, 0x00, 0x01};
    traffic(w)->append(receiveLogLine(kWhen, reply, 5));

    ModalAnswerer driver(QMessageBox::Ok, path);
    widget<QAction>(w, "actionSave")->trigger();

    QCOMPARE(driver.dialogTitle, QStringLiteral("保存为"));
    QCOMPARE(driver.proposedFiles.size(), 1);
    QCOMPARE(QFileInfo(driver.proposedFiles.first()).fileName(), QStringLiteral("未命名.txt"));
    QVERIFY(driver.boxes.isEmpty());
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromLocal8Bit(saved.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).trimmed(),
             QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 03 07 04 00 01 C9 6B"));
    QCOMPARE(lines.at(1).trimmed(),
             QStringLiteral("[2024-11-07 09:29:33.045][接收]: 55 03 02 00 01"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("traffic.txt")});
}

void tst_MessageLog::savingReplacesAnExistingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(1000, 'o'));
    }
    MainWindow w;
    traffic(w)->setPlainText(QStringLiteral("new"));

    ModalAnswerer driver(QMessageBox::Ok, path);
    // The dialog asks before overwriting; the driver answers that box with OK.
    widget<QAction>(w, "actionSave")->trigger();

    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("new"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("traffic.txt")});
}

void tst_MessageLog::savingToAPathThatCannotBeWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A plain file where the folder should be: no one can write below it.
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString path = blocker + QStringLiteral("/traffic.txt");
    MainWindow w;
    traffic(w)->setPlainText(QStringLiteral("01 03"));

    ModalAnswerer driver(QMessageBox::Ok, path);
    widget<QAction>(w, "actionSave")->trigger();

    QCOMPARE(driver.boxes.size(), 1);
    QCOMPARE(driver.boxes.first().title, QStringLiteral("保存文件"));
    const QString opening = QStringLiteral("打开文件 %1 失败, 无法保存\n").arg(path);
    QCOMPARE(driver.boxes.first().text.left(opening.size()), opening);
    QVERIFY(driver.boxes.first().text.size() > opening.size()); // the system's reason follows
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("not-a-folder")});
}

void tst_MessageLog::savingAnEmptyWindowOnlyTellsSo()
{
    MainWindow w;
    traffic(w)->clear();

    ModalAnswerer driver(QMessageBox::Ok, QStringLiteral("/tmp/never-written.txt"));
    widget<QAction>(w, "actionSave")->trigger();

    QVERIFY(driver.dialogTitle.isEmpty());
    QCOMPARE(driver.boxes.size(), 1);
    QCOMPARE(driver.boxes.first().title, QStringLiteral("提示消息"));
    QCOMPARE(driver.boxes.first().text,
             QStringLiteral("貌似还没有数据! 您需要在发送编辑框中输入要发送的数据"));
}

void tst_MessageLog::cancellingTheDialogWritesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MainWindow w;
    traffic(w)->setPlainText(QStringLiteral("01 03"));
    const QString oldCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path()); // where the proposed relative name would land

    ModalAnswerer driver;
    widget<QAction>(w, "actionSave")->trigger();
    QDir::setCurrent(oldCurrent);

    QCOMPARE(driver.dialogTitle, QStringLiteral("保存为"));
    QVERIFY(driver.boxes.isEmpty());
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(tst_MessageLog)
#include "tst_messagelog.moc"
