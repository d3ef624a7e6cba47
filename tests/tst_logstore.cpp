// What keeps the message windows' lines, without a window: the store that
// moves older lines to a temporary file, the session record and the pruning
// of old records. Saving from the store is tried through the window.

#include "serial/logstore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

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

// name:age in days:size in kB
struct RecordFile
{
    QString name;
    int ageDays;
    int kb;
};

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
    const QDateTime start(QDate(2026, 12, 7), QTime(10, 30, 5));
    SessionRecord first;
    SessionRecord second;

    QVERIFY(first.open(folder, start));
    QVERIFY(second.open(folder, start)); // a second run in the same second

    QCOMPARE(QFileInfo(first.fileName()).fileName(), QStringLiteral("2026-12-07_10-30-05.txt"));
    QCOMPARE(QFileInfo(second.fileName()).fileName(), QStringLiteral("2026-12-07_10-30-05-2.txt"));
    first.append(SessionRecord::Traffic, QStringLiteral("[发送]: 01 03 "));
    QCOMPARE(QFileInfo(first.fileName()).size(), 0); // waits for the batch
    first.append(SessionRecord::Results, QStringLiteral("模块[1]合闸成功"));
    QVERIFY(first.flush());
    first.append(SessionRecord::Traffic, QStringLiteral("[接收]: 01 "));
    QVERIFY(first.flush());

    QFile file(first.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("报文\t[发送]: 01 03 \n结果\t模块[1]合闸成功\n报文\t[接收]: 01 \n"));
    QCOMPARE(QFileInfo(second.fileName()).size(), 0);
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
    for (const RecordFile &f : files) {
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

QTEST_MAIN(tst_LogStore)
#include "tst_logstore.moc"
