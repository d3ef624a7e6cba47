// What keeps the message windows' lines, without a window: the store that
// moves older lines to a temporary file, the session record and the pruning
// of old records. Saving from the store is tried through the window.
//
// Run with FEEDERBENCH_RECORD_CHILD set to a folder, this program is one
// copy of the tool starting: it waits for a file "go" there, then opens
// twenty session records stamped with one second and writes its process id
// into each.

#include "serial/logstore.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

QStringList allLines(LineStore &store)
{
    QStringList lines;
    store.forEachLine([&](const QString &line) {
        lines << line;
        return true;
    });
    return lines;
}

// name:age in days:size in kB; held: another running copy holds it
struct RecordFile
{
    QString name;
    int ageDays;
    int kb;
    bool held = false;
};

const char kChildVariable[] = "FEEDERBENCH_RECORD_CHILD";
constexpr int kRecordsPerCopy = 60;
const QDateTime kSameSecond(QDate(2026, 12, 7), QTime(10, 30, 5));

int openRecordsAsACopy(const QString &folder)
{
    while (!QFileInfo::exists(QDir(folder).filePath(QStringLiteral("go"))))
        QThread::msleep(1);
    std::vector<std::unique_ptr<SessionRecord>> records;
    for (int i = 0; i < kRecordsPerCopy; ++i) {
        records.push_back(std::make_unique<SessionRecord>());
        if (!records.back()->open(folder, kSameSecond))
            return 1;
        records.back()->append(SessionRecord::Results,
                               QString::number(QCoreApplication::applicationPid()));
        if (!records.back()->flush())
            return 1;
    }
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(QList<RecordFile>)

class tst_LogStore : public QObject
{
    Q_OBJECT

private slots:
    void splitsAsTheWindowDoes_data();
    void splitsAsTheWindowDoes();

    void storeKeepsEveryLineInOrder_data();
    void storeKeepsEveryLineInOrder();

    void recordMarksAndAppends();
    void copiesStartedInOneSecondGetAFileEach();
    void recordResumesOnceTheDiskHasRoom();
    void pruning_data();
    void pruning();
};

void tst_LogStore::splitsAsTheWindowDoes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("one line") << "模块[1]合闸成功" << QStringList{"模块[1]合闸成功"};
    QTest::newRow("empty text is one empty line") << "" << QStringList{""};
    QTest::newRow("LF") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("CR LF is one break") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("lone CR") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("LF CR is two") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("U+2028 and U+2029")
        << QString::fromUtf8("a\u2028b\u2029c") << QStringList{"a", "b", "c"};
    QTest::newRow("a break at the end leaves an empty line") << "a\n" << QStringList{"a", ""};
}

void tst_LogStore::splitsAsTheWindowDoes()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(splitIntoLines(text), lines);
}

void tst_LogStore::storeKeepsEveryLineInOrder_data()
{
    QTest::addColumn<qint64>("memoryBytes");
    QTest::addColumn<int>("count");

    QTest::newRow("all in memory") << LineStore::kDefaultMemoryBytes << 2000;
    QTest::newRow("every line to the file at once") << qint64(0) << 2000;
    QTest::newRow("1 kB in memory, the rest in the file") << qint64(1024) << 20000;
}

void tst_LogStore::storeKeepsEveryLineInOrder()
{
    QFETCH(qint64, memoryBytes);
    QFETCH(int, count);

    LineStore store(memoryBytes);
    QStringList expected;
    for (int i = 0; i < count; ++i) {
        // Empty lines, non-ASCII text and a line of 10 000 characters among them.
        const QString line = i % 7 == 0   ? QString()
                             : i % 5 == 0 ? QStringLiteral("设备时间:%1").arg(i)
                             : i == 1001  ? QString(10000, QLatin1Char('x'))
                                          : QStringLiteral("[接收]: 55 03 %1 ").arg(i);
        store.append(line);
        expected << line;
    }
    QCOMPARE(store.lineCount(), qint64(count));
    QCOMPARE(allLines(store), expected);
    QCOMPARE(allLines(store), expected); // reading does not use it up

    store.clear();
    QVERIFY(store.isEmpty());
    QCOMPARE(allLines(store), QStringList());
    store.append(QStringLiteral("after"));
    store.append(QStringLiteral("clearing"));
    QCOMPARE(allLines(store), (QStringList{"after", "clearing"}));
}

void tst_LogStore::recordMarksAndAppends()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("a/sessions"));
    SessionRecord first;
    SessionRecord second;
    QVERIFY(first.open(folder, kSameSecond));
    QVERIFY(second.open(folder, kSameSecond)); // a second run in the same second

    QCOMPARE(QFileInfo(first.fileName()).fileName(), QStringLiteral("2026-12-07_10-30-05.txt"));
    QCOMPARE(QFileInfo(second.fileName()).fileName(), QStringLiteral("2026-12-07_10-30-05-2.txt"));
    QDateTime now(QDate(2026, 12, 7), QTime(10, 30, 5, 120));
    first.setClock([&now] { return now; });
    first.append(SessionRecord::Traffic, QStringLiteral("[发送]: 01 03 "));
    QCOMPARE(QFileInfo(first.fileName()).size(), 0); // waits for the batch
    now = now.addMSecs(7);
    first.append(SessionRecord::Results, QStringLiteral("模块[1]合闸成功"));
    QVERIFY(first.flush());
    now = now.addSecs(61);
    first.append(SessionRecord::Port, QStringLiteral("串口 ttyUSB0 已关闭"));
    QVERIFY(first.flush());

    QFile file(first.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("报文\t2026-12-07 10:30:05.120\t[发送]: 01 03 \n"
                            "结果\t2026-12-07 10:30:05.127\t模块[1]合闸成功\n"
                            "串口\t2026-12-07 10:31:06.127\t串口 ttyUSB0 已关闭\n"));
    QCOMPARE(QFileInfo(second.fileName()).size(), 0);
    // Each is held by its copy while it runs, and let go when it ends.
    QVERIFY(QFileInfo::exists(first.fileName() + QStringLiteral(".lock")));
}

// Copies of the tool started in the same second never share a record: a
// record written by two would interleave two runs' lines.
void tst_LogStore::copiesStartedInOneSecondGetAFileEach()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    constexpr int kCopies = 8;
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < kCopies; ++i) {
        copies.push_back(std::make_unique<QProcess>());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kChildVariable), dir.path());
        copies.back()->setProcessEnvironment(env);
        copies.back()->start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(copies.back()->waitForStarted());
    }
    QFile go(dir.filePath(QStringLiteral("go")));
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    for (auto &copy : copies) {
        QVERIFY(copy->waitForFinished(60000));
        QCOMPARE(copy->exitCode(), 0);
    }

    const QStringList records
        = QDir(dir.path()).entryList({QStringLiteral("2026-12-07_10-30-05*.txt")}, QDir::Files);
    QCOMPARE(records.size(), kCopies * kRecordsPerCopy);
    for (const QString &name : records) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 1); // one copy's one line
    }
    // The copies have ended: no lock is left behind.
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.lock")}, QDir::Files), QStringList());
}

// A full disk stops the record only until there is room again: the lines of
// the failed batches are missing, the engineer is told once when it fails and
// once when it resumes, with how many lines are missing, and the file holds
// whole lines only.
void tst_LogStore::recordResumesOnceTheDiskHasRoom()
{
#ifndef Q_OS_UNIX
    QSKIP("a file-size limit stands in for a full disk on Unix only");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SessionRecord record;
    QVERIFY(record.open(dir.path(), kSameSecond));
    record.setClock([] { return kSameSecond; });
    QStringList failures;
    QList<qint64> resumed;
    record.setFailureHandler([&](const QString &why) { failures << why; });
    record.setResumeHandler([&](qint64 missing) { resumed << missing; });
    record.append(SessionRecord::Results, QStringLiteral("before"));
    QVERIFY(record.flush());
    const qint64 size = QFileInfo(record.fileName()).size();

    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
    rlimit full = oldLimit;
    full.rlim_cur = rlim_t(size + 10);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
    record.append(SessionRecord::Results, QString(100, QLatin1Char('x')));
    const bool firstBatch = record.flush();
    record.append(SessionRecord::Traffic, QStringLiteral("lost 1"));
    record.append(SessionRecord::Traffic, QStringLiteral("lost 2"));
    const bool secondBatch = record.flush();
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!firstBatch);
    QVERIFY(!secondBatch);
    QCOMPARE(failures.size(), 1);
    QVERIFY(resumed.isEmpty());

    record.append(SessionRecord::Results, QStringLiteral("after"));
    QVERIFY(record.flush());
    QCOMPARE(resumed, QList<qint64>{3});
    QCOMPARE(failures.size(), 1);
    QFile file(record.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("结果\t2026-12-07 10:30:05.000\tbefore\n"
                            "结果\t2026-12-07 10:30:05.000\tafter\n"));
#endif
}

// Limits in kB for the test; the program keeps 30 days and 500 MB.
void tst_LogStore::pruning_data()
{
    QTest::addColumn<QList<RecordFile>>("files");
    QTest::addColumn<QString>("running");
    QTest::addColumn<int>("keepKb");
    QTest::addColumn<QStringList>("removed");

    const QString a = QStringLiteral("2026-12-07_10-00-00.txt");
    const QString b = QStringLiteral("2026-12-06_10-00-00.txt");
    const QString c = QStringLiteral("2026-11-20_10-00-00.txt");
    const QString d = QStringLiteral("2026-11-01_10-00-00-2.txt");
    const QString now = QStringLiteral("2026-12-08_09-00-00.txt");

    QTest::newRow("young and small: all stay")
        << QList<RecordFile>{{a, 1, 1}, {b, 2, 1}, {c, 18, 1}} << now << 100 << QStringList();
    QTest::newRow("older than 30 days go")
        << QList<RecordFile>{{a, 1, 1}, {b, 29, 1}, {c, 31, 1}, {d, 40, 1}} << now << 100
        << QStringList{c, d};
    QTest::newRow("beyond the size the oldest go, the running one counted")
        << QList<RecordFile>{{now, 0, 4}, {a, 1, 4}, {b, 2, 4}, {c, 3, 4}} << now << 10
        << QStringList{b, c};
    QTest::newRow("a small old file after a big one goes too: no gaps")
        << QList<RecordFile>{{a, 1, 2}, {b, 2, 9}, {c, 3, 1}} << now << 10 << QStringList{b, c};
    QTest::newRow("the running one stays, old and over the size")
        << QList<RecordFile>{{a, 45, 20}, {b, 2, 1}} << a << 10 << QStringList{b};
    QTest::newRow("another running copy's record stays, however big")
        << QList<RecordFile>{{a, 1, 1}, {b, 2, 20, true}, {c, 3, 1}} << now << 10 << QStringList{c};
    QTest::newRow("other files stay, however old")
        << QList<RecordFile>{{QStringLiteral("notes.txt"), 90, 50},
                             {QStringLiteral("2026-12-07_10-00-00.log"), 90, 50},
                             {a, 90, 1}}
        << now << 10 << QStringList{a};
}

void tst_LogStore::pruning()
{
    QFETCH(QList<RecordFile>, files);
    QFETCH(QString, running);
    QFETCH(int, keepKb);
    QFETCH(QStringList, removed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<std::unique_ptr<QLockFile>> held; // as another copy holds its record
    for (const RecordFile &f : files) {
        if (f.held) {
            held.push_back(std::make_unique<QLockFile>(dir.filePath(f.name + ".lock")));
            QVERIFY(held.back()->tryLock(0));
        }
        QFile file(dir.filePath(f.name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(f.kb * 1024, 'x'));
        QVERIFY(file.flush()); // or closing would write, and stamp the file now
        // An hour into the day of its age, so that 30 days is not a borderline.
        QVERIFY(file.setFileTime(now.addDays(-f.ageDays).addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    }

    const QStringList gone
        = pruneSessionRecords(dir.path(), now, dir.filePath(running), 30, keepKb * 1024LL);

    QCOMPARE(QSet<QString>(gone.begin(), gone.end()),
             QSet<QString>(removed.begin(), removed.end()));
    for (const RecordFile &f : files)
        QCOMPARE(QFile::exists(dir.filePath(f.name)), !removed.contains(f.name));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVariable))
        return openRecordsAsACopy(QString::fromLocal8Bit(qgetenv(kChildVariable)));
    tst_LogStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_logstore.moc"
