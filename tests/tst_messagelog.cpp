// The two message windows: the red log lines, clearing, saving the traffic
// log to a file, and the session record that keeps every line of the run.

#include "serial/messagelog.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLCDNumber>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const QDateTime kWhen(QDate(2024, 11, 7), QTime(9, 29, 33, 45));

// Stands in for the engineer at the modal dialogs: the save dialog gets the
// given file name (or is cancelled when there is none), every message box is
// answered with OK or Yes. What each showed is kept.
class ModalDriver
{
public:
    explicit ModalDriver(const QString &fileName = QString())
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this, fileName] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal->property("answered").toBool())
                return;
            modal->setProperty("answered", true);
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                dialogTitle = dialog->windowTitle();
                proposedFiles = dialog->selectedFiles();
                if (fileName.isEmpty()) {
                    dialog->reject();
                } else {
                    // Typed into the name field, as an engineer would type a full path.
                    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                        ->setText(fileName);
                    // Queued: accepting may open the "replace it?" box, which
                    // this timer has to be free to answer.
                    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                }
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                boxes.append({true, box->windowTitle(), box->text()});
                // OK for the tool's boxes, Yes for the dialog's "replace it?".
                QAbstractButton *yes = box->button(QMessageBox::Yes);
                (yes ? yes : box->button(QMessageBox::Ok))->click();
            }
        });
        m_timer.start();
    }

    QString dialogTitle;
    QStringList proposedFiles;
    QList<SeenBox> boxes;

private:
    QTimer m_timer;
};

void logSend(MainWindow &w, const QString &display)
{
    MainWindowProbe::logSend(w, kWhen, display);
}

// The session record's lines, each "报文\t…" or "结果\t…".
QStringList recordLines(MainWindow &w)
{
    MainWindowProbe::flushLogs(w);
    QFile file(MainWindowProbe::sessionFile(w));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {QStringLiteral("(no record)")};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void rightClick(QPlainTextEdit *browser)
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
    void logLines_data();
    void logLines();

    void clearing_data();
    void clearing();

    void savingWritesThePlainText();
    void savingHoldsLinesTheWindowNoLongerShows();
    void savingReplacesAnExistingFile();
    void savingToAPathThatCannotBeWritten();
    void savingAnEmptyWindowOnlyTellsSo();
    void cancellingTheDialogWritesNothing();

    void recordHoldsBothWindowsInOrder();
    void recordThatCannotBeOpenedIsReported();
    void openRecordFolder();
};

// The expected lines are written out from the log-line format: the time to
// the millisecond, the direction, the text with its blanks run together, one
// blank at the end (where the window's red line once had its LF CR).
void tst_MessageLog::logLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("send 55 06 18 02 00 00 23 7E")
        << sendLogLine(kWhen, QStringLiteral("55 06 18 02 00 00 23 7E "))
        << QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 06 18 02 00 00 23 7E ");
    const unsigned char reply[] = {0x01, 0x06, 0x08, 0x05, 0x00, 0x0A};
    QTest::newRow("receive 01 06 08 05 00 0A in lower case")
        << receiveLogLine(kWhen, reply, 6)
        << QStringLiteral("[2024-11-07 09:29:33.045][接收]: 01 06 08 05 00 0a ");
    const unsigned char high[] = {0xFF, 0x80, 0x7F};
    QTest::newRow("receive FF 80 7F")
        << receiveLogLine(kWhen, high, 3)
        << QStringLiteral("[2024-11-07 09:29:33.045][接收]: ff 80 7f ");
    QTest::newRow("a console line with markup shows as typed")
        << sendLogLine(kWhen, QStringLiteral("AT<CR>&amp;"))
        << QStringLiteral("[2024-11-07 09:29:33.045][发送]: AT<CR>&amp; ");
    QTest::newRow("blanks and tabs typed in a console line run together")
        << sendLogLine(kWhen, QStringLiteral(" AT  \t+X"))
        << QStringLiteral("[2024-11-07 09:29:33.045][发送]: AT +X ");
}

void tst_MessageLog::logLines()
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

// A clearing empties the window and what a save would write, never the record.
void tst_MessageLog::clearing()
{
    QFETCH(QString, how);
    QFETCH(bool, clearsTraffic);
    QFETCH(bool, clearsResults);

    MainWindow w;
    logSend(w, QStringLiteral("01 03"));
    MainWindowProbe::logResult(w, QStringLiteral("模块[1]合闸成功"));
    MainWindowProbe::flushLogs(w);
    logSend(w, QStringLiteral("01 04")); // still waiting for the window's next batch
    auto *receiveDisplay = widget<QLCDNumber>(w, "lcdNumberRecieve");
    receiveDisplay->display(7);

    if (auto *button = w.findChild<QPushButton *>(how))
        button->click();
    else
        rightClick(w.findChild<QPlainTextEdit *>(how));

    QCOMPARE(trafficLines(w).isEmpty(), clearsTraffic);
    QCOMPARE(resultLines(w).isEmpty(), clearsResults);
    QCOMPARE(receiveDisplay->intValue(), 7);
    ModalDriver driver;
    widget<QAction>(w, "actionSave")->trigger();
    QCOMPARE(driver.dialogTitle.isEmpty(), clearsTraffic); // nothing to save: no dialog
    const QStringList record = recordLines(w);
    QVERIFY(record.contains(QStringLiteral("报文\t[2024-11-07 09:29:33.045][发送]: 01 04 ")));
    QVERIFY(record.contains(QStringLiteral("结果\t模块[1]合闸成功")));
}

void tst_MessageLog::savingWritesThePlainText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.txt"));
    MainWindow w;
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click(); // the start-up's lines
    logSend(w, QStringLiteral("55 03 07 04 00 01 C9 6B "));
    const unsigned char reply[] = {0x55, 0x03, 0x02, 0x00, 0x01};
    MainWindowProbe::setClock(w, kWhen);
    MainWindowProbe::appendReceiveLog(w, reply, 5);

    ModalDriver driver(path);
    widget<QAction>(w, "actionSave")->trigger();

    QCOMPARE(driver.dialogTitle, QStringLiteral("保存为"));
    QCOMPARE(driver.proposedFiles.size(), 1);
    QCOMPARE(QFileInfo(driver.proposedFiles.first()).fileName(), QStringLiteral("未命名.txt"));
    QVERIFY(driver.boxes.isEmpty());
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromLocal8Bit(saved.readAll()),
             QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 03 07 04 00 01 C9 6B \n"
                            "[2024-11-07 09:29:33.045][接收]: 55 03 02 00 01 "));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("traffic.txt")});
}

// More lines than the window keeps and than its store holds in memory.
void tst_MessageLog::savingHoldsLinesTheWindowNoLongerShows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.txt"));
    MainWindow w;
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();
    const int count = 30000;
    for (int i = 0; i < count; ++i) {
        logSend(w, QStringLiteral("55 03 07 04 00 01 C9 6B %1 ").arg(i));
        if (i % 1000 == 0)
            MainWindowProbe::flushLogs(w);
    }

    const QStringList shown = trafficLines(w);
    QVERIFY2(shown.size() < 10000, qPrintable(QString::number(shown.size())));
    QCOMPARE(shown.last(),
             sendLogLine(kWhen, QStringLiteral("55 03 07 04 00 01 C9 6B %1 ").arg(count - 1)));
    ModalDriver driver(path);
    widget<QAction>(w, "actionSave")->trigger();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromLocal8Bit(saved.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), count);
    for (int i : {0, 1, count / 2, count - 1})
        QCOMPARE(lines.at(i),
                 sendLogLine(kWhen, QStringLiteral("55 03 07 04 00 01 C9 6B %1 ").arg(i)));
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
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();
    logSend(w, QStringLiteral("01"));

    ModalDriver driver(path);
    // The dialog asks before overwriting; the driver answers that box with OK.
    widget<QAction>(w, "actionSave")->trigger();

    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), sendLogLine(kWhen, QStringLiteral("01")).toLocal8Bit());
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
    logSend(w, QStringLiteral("01 03"));

    ModalDriver driver(path);
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
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();

    ModalDriver driver(QStringLiteral("/tmp/never-written.txt"));
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
    logSend(w, QStringLiteral("01 03"));
    const QString oldCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path()); // where the proposed relative name would land

    ModalDriver driver;
    widget<QAction>(w, "actionSave")->trigger();
    QDir::setCurrent(oldCurrent);

    QCOMPARE(driver.dialogTitle, QStringLiteral("保存为"));
    QVERIFY(driver.boxes.isEmpty());
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

void tst_MessageLog::recordHoldsBothWindowsInOrder()
{
    MainWindow w;
    const QString file = MainWindowProbe::sessionFile(w);
    QVERIFY(file.startsWith(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"))));
    QCOMPARE(QFileInfo(file).dir().dirName(), QStringLiteral("sessions"));
    const int before = recordLines(w).size(); // the start-up's lines
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();

    logSend(w, QStringLiteral("55 03 08 0F 00 04 7B BE "));
    MainWindowProbe::logResult(w, QStringLiteral("设备时间:2026-03-15 12:30:45:00"));
    logSend(w, QStringLiteral("55 06 08 02 00 00 27 BE "));
    MainWindowProbe::logResult(w, QStringLiteral("第一行\r\n第二行"));

    QCOMPARE(recordLines(w).mid(before),
             (QStringList{"报文\t[2024-11-07 09:29:33.045][发送]: 55 03 08 0F 00 04 7B BE ",
                          "结果\t设备时间:2026-03-15 12:30:45:00",
                          "报文\t[2024-11-07 09:29:33.045][发送]: 55 06 08 02 00 00 27 BE ",
                          "结果\t第一行", "结果\t第二行"}));
    QCOMPARE(resultLines(w), (QStringList{"设备时间:2026-03-15 12:30:45:00", "第一行", "第二行"}));
}

// Where the record cannot be written the windows and their saving work on,
// and the engineer is told that this run goes unrecorded.
void tst_MessageLog::recordThatCannotBeOpenedIsReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    qputenv("XDG_DATA_HOME", blocker.toLocal8Bit());
    MainWindow w;
    qputenv("XDG_DATA_HOME", dataHome);

    const QStringList results = resultLines(w);
    QCOMPARE(results.size(), 1);
    QVERIFY2(
        results.first().startsWith(QStringLiteral("无法建立记录文件，本次消息不会记入文件夹 ")),
        qPrintable(results.first()));
    const QString path = dir.filePath(QStringLiteral("traffic.txt"));
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();
    logSend(w, QStringLiteral("01 03"));
    ModalDriver driver(path);
    widget<QAction>(w, "actionSave")->trigger();
    QVERIFY(driver.boxes.isEmpty());
    QVERIFY(QFile::exists(path));
}

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

void tst_MessageLog::openRecordFolder()
{
    MainWindow w;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    widget<QAction>(w, "actionOpenRecordFolder")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QCOMPARE(catcher.opened.size(), 1);
    QCOMPARE(catcher.opened.first().toLocalFile(),
             QFileInfo(MainWindowProbe::sessionFile(w)).absolutePath());
}

QTEST_MAIN(tst_MessageLog)
#include "tst_messagelog.moc"
