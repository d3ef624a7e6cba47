// The simulated unit's line: how it frames what the tool sends and how its
// replies reach the tool (timing and line faults). The unit is a stand-in
// here; the tool is a QSerialPort on the line's pseudo-terminal.

#include "tools/simline.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

namespace {

QByteArray hex(const QString &text)
{
    return QByteArray::fromHex(text.toLatin1());
}

QStringList hexList(const QList<QByteArray> &frames)
{
    QStringList list;
    for (const QByteArray &frame : frames)
        list << QString::fromLatin1(frame.toHex(' ').toUpper());
    return list;
}

// The stand-in unit measures what starts with its own address, 0x55, as an
// eight-byte request and leaves everything else to the line's silence.
int eightByteFramer(const QByteArray &buffer)
{
    if (buffer.isEmpty())
        return 0;
    if (quint8(buffer.at(0)) != 0x55)
        return -1;
    return buffer.size() >= 8 ? 8 : 0;
}

// Answers every request with AA followed by the request, so each reply shows
// which request it answers.
struct EchoUnit
{
    QList<QByteArray> requests;
    QByteArray answer(const QByteArray &request)
    {
        requests << request;
        return hex("AA") + request;
    }
};

// The tool's end of the line: a serial port as the bench tool opens it,
// remembering every read as one chunk.
class ToolEnd : public QObject
{
    Q_OBJECT

public:
    explicit ToolEnd(const QString &path)
    {
        port.setPortName(path);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        port.open(QIODevice::ReadWrite);
        connect(&port, &QSerialPort::readyRead, this, [this] {
            const QByteArray chunk = port.readAll();
            chunks << chunk;
            received += chunk;
            lastArrivalMs = clock.isValid() ? clock.elapsed() : -1;
            emit newBytes();
        });
    }
    ~ToolEnd() override { port.close(); }

    void send(const QByteArray &bytes)
    {
        clock.start();
        port.write(bytes);
        port.flush();
    }

    // Sleeps in the event loop until count bytes are in or timeoutMs passed.
    bool waitFor(int count, int timeoutMs = 3000)
    {
        if (received.size() >= count)
            return true;
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &ToolEnd::newBytes, &loop, [&] {
            if (received.size() >= count)
                loop.quit();
        });
        deadline.start(timeoutMs);
        loop.exec();
        return received.size() >= count;
    }

    // Lets the line run for ms: proves what does not arrive.
    static void idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QSerialPort port;
    QByteArray received;
    QList<QByteArray> chunks;
    QElapsedTimer clock;
    qint64 lastArrivalMs = -1;

signals:
    void newBytes();
};

} // namespace

class tst_SimLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }

    void framing_data();
    void framing();
    void pacing_data();
    void pacing();
    void piecesArriveApart_data();
    void piecesArriveApart();
    void replyOnTheWire_data();
    void replyOnTheWire();
    void chatter_data();
    void chatter();
    void hangUpAfterRequests();
    void toolReopensThePort();
    void nothingWaitsForTheNextOpener();
    void link();
};

void tst_SimLine::framing_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QStringList>("requests");

    QTest::newRow("55 03 07 04 00 01 C9 6B in one write")
        << 0 << QStringList{"55 03 07 04 00 01 C9 6B"} << 0
        << QStringList{"55 03 07 04 00 01 C9 6B"};
    QTest::newRow("two requests in one write are two requests")
        << 0 << QStringList{"55 03 07 04 00 01 C9 6B 55 06 18 02 00 00 23 7E"} << 0
        << QStringList{"55 03 07 04 00 01 C9 6B", "55 06 18 02 00 00 23 7E"};
    // 3.5 characters at 1200 baud are 29 ms: a 10 ms pause is inside a frame.
    QTest::newRow("a frame written in two parts within the silence is one request")
        << 1200 << QStringList{"55 03 07", "04 00 01 C9 6B"} << 10
        << QStringList{"55 03 07 04 00 01 C9 6B"};
    QTest::newRow("a pause longer than the silence ends the frame")
        << 9600 << QStringList{"55 03 07", "04 00 01 C9 6B"} << 60
        << QStringList{"55 03 07", "04 00 01 C9 6B"};
    QTest::newRow("bytes the unit cannot measure are framed by silence")
        << 9600 << QStringList{"7E 32 31 30 31 35 36 39 38 0D"} << 0
        << QStringList{"7E 32 31 30 31 35 36 39 38 0D"};
    QTest::newRow("a frame cut short goes over whole after the silence")
        << 0 << QStringList{"55 03 07 04"} << 0 << QStringList{"55 03 07 04"};
    QTest::newRow("a request and then a cut frame")
        << 0 << QStringList{"55 03 07 04 00 01 C9 6B 55 06"} << 0
        << QStringList{"55 03 07 04 00 01 C9 6B", "55 06"};
}

void tst_SimLine::framing()
{
    QFETCH(int, baud);
    QFETCH(QStringList, writes);
    QFETCH(int, pauseMs);
    QFETCH(QStringList, requests);

    EchoUnit unit;
    SimLine line([&](const QByteArray &r) { return unit.answer(r); }, eightByteFramer);
    line.setBaudRate(baud);
    QSignalSpy seen(&line, &SimLine::requestSeen);
    ToolEnd tool(line.portPath());
    QVERIFY(tool.port.isOpen());

    for (int i = 0; i < writes.size(); ++i) {
        if (i > 0)
            ToolEnd::idle(pauseMs);
        tool.send(hex(writes.at(i)));
    }
    QByteArray expectedReplies;
    for (const QString &request : requests)
        expectedReplies += hex("AA") + hex(request);
    QVERIFY(tool.waitFor(expectedReplies.size()));

    QCOMPARE(hexList(unit.requests), requests);
    QCOMPARE(tool.received.toHex(' '), expectedReplies.toHex(' '));
    QCOMPARE(seen.count(), requests.size());
}

void tst_SimLine::pacing_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("turnaroundMs");
    QTest::addColumn<int>("replyBytes");
    QTest::addColumn<int>("atLeastMs");

    // 10 bits a byte. The line counts the 8-byte request's own time on the
    // wire too: the pseudo-terminal delivers it at once, a real line does not.
    QTest::newRow("8 + 100 bytes at 9600 baud take the wire's 112.5 ms") << 9600 << 0 << 100 << 112;
    QTest::newRow("8 + 100 bytes at 115200 baud take 9.4 ms") << 115200 << 0 << 100 << 9;
    QTest::newRow("a one-byte reply waits for the request: 8 + 1 bytes, 9.4 ms at 9600")
        << 9600 << 0 << 1 << 9;
    QTest::newRow("a 60 ms turnaround before an unpaced reply") << 0 << 60 << 100 << 60;
    QTest::newRow("turnaround and wire time add up: 50 + 112.5 ms") << 9600 << 50 << 100 << 162;
}

void tst_SimLine::pacing()
{
    QFETCH(int, baud);
    QFETCH(int, turnaroundMs);
    QFETCH(int, replyBytes);
    QFETCH(int, atLeastMs);

    QByteArray reply;
    for (int i = 0; i < replyBytes; ++i)
        reply.append(char(i));
    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    line.setBaudRate(baud);
    line.setTurnaroundMs(turnaroundMs);
    ToolEnd tool(line.portPath());

    tool.send(hex("55 03 07 04 00 01 C9 6B"));
    QVERIFY(tool.waitFor(replyBytes));
    QCOMPARE(tool.received, reply);
    // Only a lower bound: the reply must not arrive sooner than a real line
    // could carry it. How much later it comes is the machine's business.
    QVERIFY2(tool.lastArrivalMs >= atLeastMs,
             qPrintable(QString("the last byte came after %1 ms").arg(tool.lastArrivalMs)));
}

void tst_SimLine::piecesArriveApart_data()
{
    QTest::addColumn<int>("pieces");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("chunks");

    QTest::newRow("two pieces: 55 03 02 | 00 01 79 84")
        << 2 << hex("55 03 02 00 01 79 84") << QStringList{"55 03 02", "00 01 79 84"};
    QTest::newRow("three pieces: 55 03 | 02 00 | 01 79 84")
        << 3 << hex("55 03 02 00 01 79 84") << QStringList{"55 03", "02 00", "01 79 84"};
    QTest::newRow("more pieces than bytes: a byte each")
        << 10 << hex("55 83 02") << QStringList{"55", "83", "02"};
}

void tst_SimLine::piecesArriveApart()
{
    QFETCH(int, pieces);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, chunks);

    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    line.faults.pieces = pieces;
    // Far above the tool's 40 ms quiet time, so every piece is read on its own.
    line.faults.pieceGapMs = 150;
    QSignalSpy replies(&line, &SimLine::replySent);
    ToolEnd tool(line.portPath());

    tool.send(hex("55 03 07 04 00 01 C9 6B"));
    QVERIFY(tool.waitFor(reply.size()));
    QCOMPARE(hexList(tool.chunks), chunks);
    QCOMPARE(replies.count(), 1);
    QCOMPARE(replies.first().first().toByteArray(), reply);
}

void tst_SimLine::replyOnTheWire_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<QByteArray>("wireStart");
    QTest::addColumn<int>("wireSize");
    QTest::addColumn<int>("echo"); // 0 none, 1 the request back, 2 with its last byte inverted

    QTest::newRow("no reply is silence, garbage and all")
        << QByteArray() << hex("FF 00 13") << 0 << QByteArray() << 0 << 0;
    QTest::newRow("garbage FF 00 13 goes first")
        << hex("55 06 18 02 00 00 23 7E") << hex("FF 00 13") << 0
        << hex("FF 00 13 55 06 18 02 00 00 23 7E") << 11 << 0;
    // More than the tool's 256-byte receive buffer holds.
    QTest::newRow("300 counting bytes after the reply, 307 in all")
        << hex("55 03 02 00 01 79 84") << QByteArray() << 300
        << hex("55 03 02 00 01 79 84 00 01 02 03") << 307 << 0;
    // A two-wire adapter hands the request back before anything else.
    QTest::newRow("echo 55 03 07 04 00 01 C9 6B before garbage and reply")
        << hex("55 03 02 00 01 79 84") << hex("FF") << 0
        << hex("55 03 07 04 00 01 C9 6B FF 55 03 02 00 01 79 84") << 16 << 1;
    QTest::newRow("echo without a reply")
        << QByteArray() << QByteArray() << 0 << hex("55 03 07 04 00 01 C9 6B") << 8 << 1;
    QTest::newRow("echo with its last byte inverted: C9 94")
        << hex("55 03 02 00 01 79 84") << QByteArray() << 0
        << hex("55 03 07 04 00 01 C9 94 55 03 02 00 01 79 84") << 15 << 2;
}

void tst_SimLine::replyOnTheWire()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, garbage);
    QFETCH(int, extraBytes);
    QFETCH(QByteArray, wireStart);
    QFETCH(int, wireSize);
    QFETCH(int, echo);

    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    line.faults.garbageBefore = garbage;
    line.faults.replyExtraBytes = extraBytes;
    line.faults.echo = echo == 1;
    line.faults.corruptEcho = echo == 2;
    QSignalSpy replies(&line, &SimLine::replySent);
    ToolEnd tool(line.portPath());

    tool.send(hex("55 03 07 04 00 01 C9 6B"));
    tool.waitFor(wireSize);
    ToolEnd::idle(100); // and nothing more
    QCOMPARE(line.requestCount(), 1);
    QCOMPARE(tool.received.size(), wireSize);
    QCOMPARE(tool.received.left(wireStart.size()).toHex(' '), wireStart.toHex(' '));
    QCOMPARE(replies.count(), reply.isEmpty() ? 0 : 1);
}

void tst_SimLine::chatter_data()
{
    QTest::addColumn<QByteArray>("chatterBytes");
    QTest::addColumn<QByteArray>("heard");

    // The textbook frame of a master reading register 0 of station 1.
    QTest::newRow("default: 01 03 00 00 00 01 84 0A")
        << QByteArray() << hex("01 03 00 00 00 01 84 0A");
    QTest::newRow("chosen bytes: 7E 7E 0D") << hex("7E 7E 0D") << hex("7E 7E 0D");
}

void tst_SimLine::chatter()
{
    QFETCH(QByteArray, chatterBytes);
    QFETCH(QByteArray, heard);

    const QByteArray reply = hex("55 06 18 02 00 00 23 7E");
    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    line.faults.chatterEveryMs = 20;
    line.faults.chatterBytes = chatterBytes;
    ToolEnd tool(line.portPath());

    QVERIFY(tool.waitFor(3 * heard.size()));
    QCOMPARE(line.requestCount(), 0);
    tool.send(hex("55 06 18 02 00 00 23 7E"));
    QVERIFY(tool.waitFor(tool.received.size() + reply.size() + 2 * heard.size()));

    // The other station talks between the unit's replies, never inside one.
    QByteArray rest = tool.received;
    const int talk = rest.count(heard);
    QVERIFY(talk >= 5);
    rest.replace(heard, QByteArray());
    QCOMPARE(rest.toHex(' '), reply.toHex(' '));
    QCOMPARE(line.requestCount(), 1);
}

void tst_SimLine::hangUpAfterRequests()
{
    const QByteArray reply = hex("55 06 18 02 00 00 23 7E");
    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    line.faults.hangUpAfterRequests = 2;
    QSignalSpy closed(&line, &SimLine::lineClosed);
    ToolEnd tool(line.portPath());
    QSignalSpy portErrors(&tool.port, &QSerialPort::errorOccurred);

    tool.send(hex("55 06 18 02 00 00 23 7E"));
    QVERIFY(tool.waitFor(8));
    QVERIFY(line.isOpen());
    QCOMPARE(closed.count(), 0);

    tool.send(hex("55 06 18 02 00 00 23 7E"));
    QVERIFY(tool.waitFor(16)); // the second request is still answered
    QTRY_COMPARE(closed.count(), 1);
    QVERIFY(!line.isOpen());

    // The tool's port notices, as with a cable pulled out.
    QTRY_VERIFY(portErrors.count() > 0);
    bool resourceError = false;
    for (const QList<QVariant> &error : portErrors)
        resourceError
            |= error.first().value<QSerialPort::SerialPortError>() == QSerialPort::ResourceError;
    QVERIFY(resourceError);
    QCOMPARE(line.requestCount(), 2);
}

void tst_SimLine::toolReopensThePort()
{
    const QByteArray reply = hex("55 06 18 02 00 00 23 7E");
    SimLine line([&](const QByteArray &) { return reply; }, eightByteFramer);
    {
        ToolEnd first(line.portPath());
        first.send(hex("55 06 18 02 00 00 23 7E"));
        QVERIFY(first.waitFor(8));
    }
    ToolEnd::idle(20);
    QVERIFY(line.isOpen());
    ToolEnd second(line.portPath());
    QVERIFY(second.port.isOpen());
    second.send(hex("55 06 18 02 00 00 23 7E"));
    QVERIFY(second.waitFor(8));
    QCOMPARE(second.received, reply);
    QCOMPARE(line.requestCount(), 2);
}

void tst_SimLine::nothingWaitsForTheNextOpener()
{
    // What goes out while no port is open is lost on a real line: neither
    // the other station's talk nor a reply to a tool that has left may greet
    // the next tool that opens the port.
    const QByteArray chatterFrame = hex("01 03 00 00 00 01 84 0A");
    SimLine line([](const QByteArray &) { return hex("55 06 18 02 00 00 23 7E"); },
                 eightByteFramer);
    line.setTurnaroundMs(150);
    line.faults.chatterEveryMs = 100;
    ToolEnd::idle(350); // three frames' worth of talk with nobody listening
    {
        ToolEnd leaving(line.portPath());
        QVERIFY(leaving.waitFor(chatterFrame.size()));
        QCOMPARE(leaving.chunks.first().toHex(' '), chatterFrame.toHex(' '));
        leaving.send(hex("55 06 18 02 00 00 23 7E"));
    } // gone before the reply starts
    QTRY_COMPARE(line.requestCount(), 1);
    ToolEnd::idle(300);

    line.faults.chatterBytes = hex("7E 0D"); // later talk told apart from earlier talk
    ToolEnd next(line.portPath());
    QVERIFY(next.waitFor(2));
    QCOMPARE(next.chunks.first().toHex(' '), QByteArray("7e 0d"));
}

void tst_SimLine::link()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath("unit");
    const QString filePath = dir.filePath("notes.txt");
    {
        QFile notes(filePath);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("keep me");
    }
    // A link left behind by an earlier run, pointing nowhere now.
    QVERIFY(QFile::link(dir.filePath("gone"), linkPath));

    {
        SimLine line([](const QByteArray &) { return QByteArray(); }, eightByteFramer);
        QVERIFY(line.makeLink(linkPath));
        QCOMPARE(QFileInfo(linkPath).symLinkTarget(), line.portPath());
        QVERIFY(!line.makeLink(filePath)); // not a link: left alone
        QVERIFY(QFileInfo(filePath).isFile());
        QVERIFY(QFileInfo(linkPath).isSymLink()); // the refused one did not cost the first

        ToolEnd tool(linkPath); // the link is as good as the path
        tool.send(hex("55 03 07 04 00 01 C9 6B"));
        QTRY_COMPARE(line.requestCount(), 1);
    }
    QVERIFY(!QFileInfo(linkPath).isSymLink());
    QVERIFY(QFileInfo(filePath).isFile());
}

QTEST_GUILESS_MAIN(tst_SimLine)
#include "tst_simline.moc"
