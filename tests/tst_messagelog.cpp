// The two message windows: the red log lines, clearing, saving the traffic
// log to a file, and the session record that keeps every line of the run.

#include "serial/messagelog.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLCDNumber>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

// Saving onto links, pipes and full devices, and Ctrl+C on an open port,
// need what only Unix systems have here.
#ifdef Q_OS_UNIX
#include "support/unprivileged.h"
#include "tools/pty.h"

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QDateTime kWhen(QDate(2024, 11, 7), QTime(9, 29, 33, 45));

#ifdef Q_OS_UNIX
// The traffic window and its log hold exactly these plain lines.
void setTrafficLines(MainWindow &w, const QStringList &lines)
{
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();
    MainWindowProbe::logTraffic(w, lines);
    MainWindowProbe::flushLogs(w);
}
#endif

void logSend(MainWindow &w, const QString &display)
{
    MainWindowProbe::logSend(w, kWhen, display);
}

// The session record's lines as the file holds them, each "报文\t<time>\t…",
// "结果\t<time>\t…" or "串口\t<time>\t…".
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

#ifdef Q_OS_UNIX
struct stat fileStatus(const QString &path)
{
    struct stat st
    {
    };
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

enum class InPlace { HardLink, ReadOnlyFolder, Pipe };
enum class LateFailure { DeviceFull, FileSizeLimit };

#endif

} // namespace

#ifdef Q_OS_UNIX
Q_DECLARE_METATYPE(InPlace)
Q_DECLARE_METATYPE(LateFailure)
#endif

class tst_MessageLog : public QObject
{
    Q_OBJECT

private slots:
    void logLines_data();
    void logLines();

    void clearing_data();
    void clearing();

    void resultLinesDrawnByTone();
    void savingWritesThePlainText();
    void savingHoldsLinesTheWindowNoLongerShows();
    void savingReplacesAnExistingFile();
    void savingToAPathThatCannotBeWritten();
    void savingAnEmptyWindowOnlyTellsSo();
    void cancellingTheDialogWritesNothing();
    void savingWritesInPlaceWhereItMust_data();
    void savingWritesInPlaceWhereItMust();
    void savingFailuresAfterOpeningAreWriteFailures_data();
    void savingFailuresAfterOpeningAreWriteFailures();

    void ctrlCCopiesOrCloses_data();
    void ctrlCCopiesOrCloses();

    void recordHoldsBothWindowsInOrder();
    void recordHoldsThePortsComingsAndGoings();
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
    ModalAnswerer driver;
    widget<QAction>(w, "actionSave")->trigger();
    QCOMPARE(driver.dialogTitle.isEmpty(), clearsTraffic); // nothing to save: no dialog
    const QStringList record = withoutTimes(recordLines(w));
    QVERIFY(record.contains(QStringLiteral("报文\t[2024-11-07 09:29:33.045][发送]: 01 04 ")));
    QVERIFY(record.contains(QStringLiteral("结果\t模块[1]合闸成功")));
}

// A result line is drawn by its tone; its text, the saved log and the session
// record are the same whatever the ink.
void tst_MessageLog::resultLinesDrawnByTone()
{
    MainWindow w;
    MainWindowProbe::logResult(w, QStringLiteral("模块[1]合闸:没有应答!!"), Tone::Bad);
    MainWindowProbe::logResult(w, QStringLiteral("MAC读回校验通过"), Tone::Good);
    MainWindowProbe::logResult(w, QStringLiteral("---------读取mac-------------"));
    QCOMPARE(resultInk(w, QStringLiteral("模块[1]合闸:没有应答!!")), QStringLiteral("red"));
    QCOMPARE(resultInk(w, QStringLiteral("MAC读回校验通过")), QStringLiteral("green"));
    QCOMPARE(resultInk(w, QStringLiteral("---------读取mac-------------")),
             QStringLiteral("plain"));
    const QStringList record = withoutTimes(recordLines(w));
    QVERIFY(record.contains(QStringLiteral("结果\t模块[1]合闸:没有应答!!")));
    QVERIFY(record.contains(QStringLiteral("结果\tMAC读回校验通过")));
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

    ModalAnswerer driver(QMessageBox::Ok, path);
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
    // The engineer is told where the log went.
    QCOMPARE(statusText(w), QStringLiteral("报文已保存到 ") + QDir::toNativeSeparators(path));
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
    ModalAnswerer driver(QMessageBox::Ok, path);
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

    ModalAnswerer driver(QMessageBox::Ok, path);
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
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();

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
    logSend(w, QStringLiteral("01 03"));
    const QString oldCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path()); // where the proposed relative name would land

    ModalAnswerer driver;
    widget<QAction>(w, "actionSave")->trigger();
    QDir::setCurrent(oldCurrent);

    QCOMPARE(driver.dialogTitle, QStringLiteral("保存为"));
    QVERIFY(driver.boxes.isEmpty());
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// Files that a save must write where they stand: replacing them by a new file
// (the atomic save) would cut a hard link, fail in a folder that takes no new
// files, or put a plain file where a pipe was.
void tst_MessageLog::savingWritesInPlaceWhereItMust_data()
{
#ifdef Q_OS_UNIX
    QTest::addColumn<InPlace>("target");
    QTest::newRow("a hard-linked file keeps its other name") << InPlace::HardLink;
    QTest::newRow("a writable file in a folder the user cannot add to") << InPlace::ReadOnlyFolder;
    QTest::newRow("a named pipe stays a pipe and gets the text") << InPlace::Pipe;
#endif
}

void tst_MessageLog::savingWritesInPlaceWhereItMust()
{
#ifndef Q_OS_UNIX
    QSKIP("Unix only");
#else
    QFETCH(InPlace, target);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/traffic.txt");
    const QString otherName = dir.filePath(QStringLiteral("same-file.txt"));
    int pipeReader = -1;
    std::optional<Unprivileged> asUser;
    switch (target) {
    case InPlace::HardLink:
        QVERIFY(writeFile(path, QByteArray(1000, 'o')));
        QVERIFY(
            ::link(QFile::encodeName(path).constData(), QFile::encodeName(otherName).constData())
            == 0);
        break;
    case InPlace::ReadOnlyFolder:
        QVERIFY(writeFile(path, QByteArray(1000, 'o')));
        QVERIFY(setMode(path, 0666));
        QVERIFY(setMode(folder, 0555));
        QVERIFY(setMode(dir.path(), 0755));
        asUser.emplace(); // root could add files to any folder
        QVERIFY(asUser->ok());
        break;
    case InPlace::Pipe:
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        // A reader that is there already lets the save open the pipe at once.
        pipeReader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(pipeReader >= 0);
        break;
    }
    const struct stat before = fileStatus(path);

    MainWindow w;
    setTrafficLines(w, {QStringLiteral("55 03 07 04 00 01 C9 6B")});
    ModalAnswerer driver(QMessageBox::Ok, path);
    widget<QAction>(w, "actionSave")->trigger();
    asUser.reset();

    QVERIFY2(driver.toolBoxes().isEmpty(), qPrintable(driver.toolBoxes().value(0).text));
    const struct stat after = fileStatus(path);
    QCOMPARE(after.st_ino, before.st_ino); // the same file, written where it stands
    QCOMPARE(after.st_mode, before.st_mode);
    const QByteArray expected("55 03 07 04 00 01 C9 6B");
    if (target == InPlace::Pipe) {
        QByteArray got(100, '\0');
        const ssize_t n = ::read(pipeReader, got.data(), size_t(got.size()));
        ::close(pipeReader);
        QCOMPARE(got.left(int(n)), expected);
    } else {
        QCOMPARE(fileBytes(path), expected);
    }
    if (target == InPlace::HardLink)
        QCOMPARE(fileBytes(otherName), expected);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{QStringLiteral("traffic.txt")});
    setMode(folder, 0755);
#endif
}

// A file that opened but did not take the whole text: the box says writing
// failed, with the system's reason, and an ordinary file keeps its old text.
void tst_MessageLog::savingFailuresAfterOpeningAreWriteFailures_data()
{
#ifdef Q_OS_UNIX
    QTest::addColumn<LateFailure>("failure");
    QTest::addColumn<QString>("reason"); // the system's words for it
    QTest::newRow("a device that is full, written in place")
        << LateFailure::DeviceFull << qt_error_string(ENOSPC);
    QTest::newRow("the temporary file hits the size limit, nothing replaced")
        << LateFailure::FileSizeLimit << qt_error_string(EFBIG);
#endif
}

void tst_MessageLog::savingFailuresAfterOpeningAreWriteFailures()
{
#ifndef Q_OS_UNIX
    QSKIP("Unix only");
#else
    QFETCH(LateFailure, failure);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = QStringLiteral("/dev/full");
    const QByteArray old(100, 'o');
    if (failure == LateFailure::FileSizeLimit) {
        path = dir.filePath(QStringLiteral("traffic.txt"));
        QVERIFY(writeFile(path, old));
    }

    MainWindow w;
    setTrafficLines(w, {QString(20000, QLatin1Char('5'))});
    ModalAnswerer driver(QMessageBox::Ok, path);
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
    if (failure == LateFailure::FileSizeLimit) {
        rlimit small = oldLimit;
        small.rlim_cur = 1000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    widget<QAction>(w, "actionSave")->trigger();
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);

    const QList<SeenBox> boxes = driver.toolBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("保存文件"));
    QCOMPARE(boxes.first().text,
             QStringLiteral("写入文件 %1 失败, 未能保存\n%2").arg(path, reason));
    if (failure == LateFailure::FileSizeLimit) {
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("traffic.txt")});
    }
#endif
}

// Ctrl+C is also the shortcut of "关闭串口".
void tst_MessageLog::ctrlCCopiesOrCloses_data()
{
#ifdef Q_OS_UNIX
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("select");
    QTest::addColumn<bool>("copies");
    QTest::newRow("traffic window with a selection: copies") << "textBrowser" << true << true;
    QTest::newRow("result window with a selection: copies") << "textBrowser_val" << true << true;
    QTest::newRow("traffic window, nothing selected: closes the port")
        << "textBrowser" << false << false;
    QTest::newRow("the test tree: closes the port") << "treeWidget" << false << false;
#endif
}

void tst_MessageLog::ctrlCCopiesOrCloses()
{
#ifndef Q_OS_UNIX
    QSKIP("Unix only");
#else
    QFETCH(QString, focus);
    QFETCH(bool, select);
    QFETCH(bool, copies);
    PtyPair pty;
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(openPortOn(w, pty.slavePath()));

    // Through the calls both kinds of text view have.
    const QString line = QStringLiteral("[2024-11-07 09:29:33.045][发送]: 55 03 07 04 00 01 C9 6B");
    for (const char *view : {"textBrowser", "textBrowser_val"})
        QVERIFY(QMetaObject::invokeMethod(widget<QWidget>(w, view), "setPlainText",
                                          Q_ARG(QString, line)));
    QWidget *target = w.findChild<QWidget *>(focus);
    QVERIFY(target);
    if (select)
        QVERIFY(QMetaObject::invokeMethod(target, "selectAll"));
    target->setFocus();
    QTRY_VERIFY(target->hasFocus());
    QApplication::clipboard()->setText(QStringLiteral("before"));

    QTest::keyClick(target, Qt::Key_C, Qt::ControlModifier);

    QCOMPARE(QApplication::clipboard()->text(), copies ? line : QStringLiteral("before"));
    QCOMPARE(portIsOpen(w), copies);
    QCOMPARE(widget<QAction>(w, "actionConnect")->isEnabled(), !copies);
    if (portIsOpen(w))
        widget<QAction>(w, "actionClose")->trigger(); // before the far end goes
#endif
}

void tst_MessageLog::recordHoldsBothWindowsInOrder()
{
    MainWindow w;
    const QString file = MainWindowProbe::sessionFile(w);
#ifdef Q_OS_UNIX
    QVERIFY(file.startsWith(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"))));
#endif
    QCOMPARE(QFileInfo(file).dir().dirName(), QStringLiteral("sessions"));
    const int before = recordLines(w).size(); // the start-up's lines
    widget<QPushButton>(w, "pushButtonClearDataRecieve")->click();

    // Each line carries the time it came, also those with a time of their own.
    MainWindowProbe::setClock(w, QDateTime(QDate(2026, 12, 7), QTime(10, 30, 0, 250)));
    logSend(w, QStringLiteral("55 03 08 0F 00 04 7B BE "));
    MainWindowProbe::logResult(w, QStringLiteral("设备时间:2026-03-15 12:30:45:00"));
    logSend(w, QStringLiteral("55 06 08 02 00 00 27 BE "));
    MainWindowProbe::logResult(w, QStringLiteral("第一行\r\n第二行"));

    const QString at = QStringLiteral("\t2026-12-07 10:30:00.250\t");
    QCOMPARE(recordLines(w).mid(before),
             (QStringList{"报文" + at + "[2024-11-07 09:29:33.045][发送]: 55 03 08 0F 00 04 7B BE ",
                          "结果" + at + "设备时间:2026-03-15 12:30:45:00",
                          "报文" + at + "[2024-11-07 09:29:33.045][发送]: 55 06 08 02 00 00 27 BE ",
                          "结果" + at + "第一行", "结果" + at + "第二行"}));
    QCOMPARE(resultLines(w), (QStringList{"设备时间:2026-03-15 12:30:45:00", "第一行", "第二行"}));
}

// The port opened, closed and lost stand in the record among the lines they
// explain.
void tst_MessageLog::recordHoldsThePortsComingsAndGoings()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a pseudo-terminal");
#else
    PtyPair line;
    MainWindow w;
    const int before = recordLines(w).size();
    QVERIFY(openPortOn(w, line.slavePath()));
    MainWindowProbe::logResult(w, QStringLiteral("模块[1]合闸成功"));
    widget<QAction>(w, "actionClose")->trigger();
    QVERIFY(openPortOn(w, line.slavePath()));
    line.closeMaster(); // the cable pulled
    QTRY_VERIFY(!portIsOpen(w));

    const QString port = windowPort(w)->portName(); // "pts/3"
    const QStringList lines = withoutTimes(recordLines(w).mid(before));
    QCOMPARE(lines.mid(0, 4),
             (QStringList{"串口\t串口 " + port + " 已打开：9600 8N1", "结果\t模块[1]合闸成功",
                          "串口\t串口 " + port + " 已关闭",
                          "串口\t串口 " + port + " 已打开：9600 8N1"}));
    // Lost once, however often the port says so, with the result window's
    // line about it (no operation ran), then closed.
    QCOMPARE(lines.size(), 7);
    const QStringList lost = lines.mid(4, 2);
    QVERIFY2(lost.filter(QRegularExpression("^串口\t串口 " + QRegularExpression::escape(port)
                                            + " 断开或出错："))
                     .size()
                 == 1,
             qPrintable(lost.join('|')));
    QVERIFY2(lost.filter(QRegularExpression("^结果\t串口 " + QRegularExpression::escape(port)
                                            + " .*，已关闭$"))
                     .size()
                 == 1,
             qPrintable(lost.join('|')));
    QCOMPARE(lines.at(6), "串口\t串口 " + port + " 已关闭");
#endif
}

// Where the record cannot be written the windows and their saving work on,
// and the engineer is told that this run goes unrecorded.
void tst_MessageLog::recordThatCannotBeOpenedIsReported()
{
#ifndef Q_OS_UNIX
    QSKIP("the data folder moves with XDG_DATA_HOME on Unix only");
#endif
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
    ModalAnswerer driver(QMessageBox::Ok, path);
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
