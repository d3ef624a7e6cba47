// The simulated unit, bytes in and bytes out. Requests and replies are written
// out in full; their CRCs and checksums were worked out by hand (CRC-16/MODBUS
// bit by bit, the packet checksum as the two's complement of the character sum).
#include "tools/pduunit.h"

#include <QtTest>

namespace {

const QDateTime kHostStart(QDate(2026, 3, 15), QTime(12, 30, 45));

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

// Request and expected reply as hexadecimal text; the reply compared as hex
// so that a failure shows both frames readably.
QByteArray ask(PduUnit &unit, const char *request)
{
    return hex(unit.handleFrame(QByteArray::fromHex(request)));
}

QByteArray frame(const char *text)
{
    return hex(QByteArray::fromHex(text));
}

// A unit on a stopped host clock, with some state that differs from the
// factory's so that reads show where their values come from.
struct Bench
{
    QDateTime host = kHostStart;
    PduUnit unit;

    Bench()
    {
        unit.setHostClock([this] { return host; });
        unit.module(1).switchState = 2;          // opened by LVD
        unit.module(1).protectionFlags = 0x0021; // short circuit, communication lost
        for (int m : {0, 10})
            unit.module(m).switchState = 5; // opened by hand
    }
};

int field(const PduModule &m, const QString &name)
{
    if (name == "switchState")
        return m.switchState;
    if (name == "remoteEnable")
        return m.remoteEnable;
    if (name == "lvdEnable")
        return m.lvdEnable;
    if (name == "lvdValue")
        return m.lvdValue;
    if (name == "reconnectValue")
        return m.reconnectValue;
    if (name == "timeEnable")
        return m.timeEnable;
    if (name == "overCurrent")
        return m.overCurrent;
    if (name.startsWith("window"))
        return m.windows[name.mid(6).toInt()];
    return -1;
}

} // namespace

class tst_PduUnit : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void write_data();
    void write();
    void writtenValuesReadBack();
    void writesAreCounted();
    void clockFollowsHostUntilSet();
    void clockRunsOnFromTheTimeSet_data();
    void clockRunsOnFromTheTimeSet();
    void clockWriteRefused_data();
    void clockWriteRefused();
    void unservedFunction_data();
    void unservedFunction();
    void silence_data();
    void silence();
    void busAddressCanChange();
    void silentModuleSwitch();
    void forcedException();
    void corruptCrc();
    void service_data();
    void service();
    void factoryRestore();
    void forcedReturnCode();
    void requestLength_data();
    void requestLength();
};

void tst_PduUnit::read_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    const auto row = [](const char *name, const char *request, const char *reply) {
        QTest::newRow(name) << QByteArray(request) << frame(reply);
    };
    row("switch state, module 0, opened by hand", "550307040001C96B", "5503020005498B");
    row("switch state, module 1 (0x1704), opened by LVD", "550317040001CDAB", "55030200020849");
    row("protection flags, module 1 (0x170F)", "5503170F0001BC69", "55030200214990");
    row("switch state, module 10 (0xA704)", "5503A7040001EB6B", "5503020005498B");
    row("LVD value 43.2 V", "5503080500019BBF", "55030201B089AC");
    row("LVD and reconnect together", "550308050002DBBE", "55030401B001E0EFF5");
    row("windows and over-current", "5503080800078A7E",
        "55030E 000000000000000000000000 03E8 917B");
    row("windows through the clock", "55030808000B8A7B",
        "550316 000000000000000000000000 03E8 07EA030F0C1E2D00 8911");
    row("clock, 4 registers", "5503080F00047BBE", "55030807EA030F0C1E2D00A1FA");
    row("clock seconds alone", "5503081200012BBB", "5503022D0094D8");

    row("0x0802 is a command, not readable", "55030802000A6BB9", "5583028121");
    // The enables read back what was last written (a switch check reads them).
    row("remote-control enable, on", "550308010001DA7E", "55030200014848");
    row("a run into 0x0807: reconnect 48.0 V, time control off", "5503080600022BBE",
        "55030401E00000EFFC");
    row("between state and flags", "55030705000198AB", "5583028121");
    row("past the clock", "5503080F0005BA7E", "5583028121");
    row("no registers", "55030704000008AB", "55830340E1");
    row("126 registers", "55030704007E888B", "55830340E1");
}

void tst_PduUnit::read()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    Bench bench;
    QCOMPARE(ask(bench.unit, request), reply);
}

void tst_PduUnit::write_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("module");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    const auto echoed
        = [](const char *name, const char *request, int module, const char *field, int value) {
              QTest::newRow(name) << QByteArray(request) << frame(request) << module
                                  << QString(field) << value;
          };
    echoed("close module 0", "55060802000027BE", 0, "switchState", 0);
    echoed("close module 1", "550618020000237E", 1, "switchState", 0);
    echoed("close module 10", "5506A802000005BE", 10, "switchState", 0);
    echoed("open module 0", "550608030001B7BE", 0, "switchState", 1);
    echoed("remote control off", "550608010000D7BE", 0, "remoteEnable", 0);
    echoed("LVD disconnect off", "550608040000C7BF", 0, "lvdEnable", 0);
    echoed("time-period control on", "550608070001F67F", 0, "timeEnable", 1);
    echoed("LVD value 57.5 on module 1", "55061805023FD3CF", 1, "lvdValue", 575);
    echoed("reconnect value", "550608060200671F", 0, "reconnectValue", 0x200);
    echoed("window 1 hour 8", "550608080008067A", 0, "window0", 8);
    echoed("window 1 minute 30", "55060809001ED674", 0, "window1", 30);
    echoed("window 3 hour 25, stored as sent", "5506080C001987B7", 0, "window4", 25);
    echoed("window 3 minute 59", "5506080D003B566E", 0, "window5", 59);
    echoed("over-current 120.0", "5506080E04B0E4C9", 0, "overCurrent", 1200);

    const auto refused = [](const char *name, const char *request, const char *reply, int module,
                            const char *field, int value) {
        QTest::newRow(name) << QByteArray(request) << frame(reply) << module << QString(field)
                            << value;
    };
    refused("close with 1", "550608020001E67E", "55860343B1", 0, "switchState", 5);
    refused("open with 0", "550608030000767E", "55860343B1", 0, "switchState", 5);
    refused("remote enable 2", "550608010002567F", "55860343B1", 0, "remoteEnable", 1);
    refused("switch state is read-only", "550607040000C4AB", "5586028271", 0, "switchState", 5);
    refused("the clock takes 10h only", "5506080F0000B67D", "5586028271", 0, "switchState", 5);
    refused("0x0800 is outside the map", "55060800000147BE", "5586028271", 0, "switchState", 5);
}

void tst_PduUnit::write()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, module);
    QFETCH(QString, field);
    QFETCH(int, value);
    Bench bench;
    QCOMPARE(ask(bench.unit, request), reply);
    QCOMPARE(::field(bench.unit.module(module), field), value);
}

void tst_PduUnit::writtenValuesReadBack()
{
    Bench bench;
    QCOMPARE(ask(bench.unit, "550608080008067A"), frame("550608080008067A"));
    QCOMPARE(ask(bench.unit, "55060809001ED674"), frame("55060809001ED674"));
    QCOMPARE(ask(bench.unit, "5503080800024A7D"), frame("5503040008001EEE3C"));
    // A write to module 1 leaves module 0 as it was.
    QCOMPARE(ask(bench.unit, "55061805023FD3CF"), frame("55061805023FD3CF"));
    QCOMPARE(ask(bench.unit, "5503180500019F7F"), frame("550302023FC8F8"));
    QCOMPARE(ask(bench.unit, "5503080500019BBF"), frame("55030201B089AC"));
}

void tst_PduUnit::writesAreCounted()
{
    Bench bench;
    ask(bench.unit, "55060802000027BE");
    ask(bench.unit, "55060802000027BE");
    ask(bench.unit, "550608030001B7BE");
    QCOMPARE(bench.unit.module(0).writes.value(0x0802), 2);
    QCOMPARE(bench.unit.module(0).writes.value(0x0803), 1);
    QCOMPARE(bench.unit.module(1).writes.value(0x0802), 0);
}

void tst_PduUnit::clockFollowsHostUntilSet()
{
    Bench bench;
    QCOMPARE(ask(bench.unit, "5503080F00047BBE"), frame("55030807EA030F0C1E2D00A1FA"));
    bench.host = QDateTime(QDate(2026, 12, 6), QTime(4, 6, 14));
    QCOMPARE(ask(bench.unit, "5503080F00047BBE"), frame("55030807EA0C0604060E00E653"));
}

void tst_PduUnit::clockRunsOnFromTheTimeSet_data()
{
    QTest::addColumn<QByteArray>("set");
    QTest::addColumn<QByteArray>("setReply");
    QTest::addColumn<int>("module");
    QTest::addColumn<int>("secondsLater");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("readReply");
    QTest::addColumn<QDateTime>("time");
    QTest::newRow("2026-12-06 04:05:09 and 65 s")
        << QByteArray("5510080F00040807EA0C06040509007C9C") << frame("5510080F0004FE7D") << 0 << 65
        << QByteArray("5503080F00047BBE") << frame("55030807EA0C0604060E00E653")
        << QDateTime(QDate(2026, 12, 6), QTime(4, 6, 14));
    QTest::newRow("module 1 at 0x180F")
        << QByteArray("5510180F00040807EA0C0604050900420C") << frame("5510180F0004FABD") << 1 << 65
        << QByteArray("5503180F00047F7E") << frame("55030807EA0C0604060E00E653")
        << QDateTime(QDate(2026, 12, 6), QTime(4, 6, 14));
    QTest::newRow("into the new year")
        << QByteArray("5510080F00040807EA0C1F173B3B001176") << frame("5510080F0004FE7D") << 0 << 2
        << QByteArray("5503080F00047BBE") << frame("55030807EB010100000100A68F")
        << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1));
}

void tst_PduUnit::clockRunsOnFromTheTimeSet()
{
    QFETCH(QByteArray, set);
    QFETCH(QByteArray, setReply);
    QFETCH(int, module);
    QFETCH(int, secondsLater);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, readReply);
    QFETCH(QDateTime, time);
    Bench bench;
    QCOMPARE(ask(bench.unit, set), setReply);
    bench.host = bench.host.addSecs(secondsLater);
    QCOMPARE(ask(bench.unit, read), readReply);
    QCOMPARE(bench.unit.moduleTime(module), time);
    // The other modules' clocks were not touched.
    QCOMPARE(bench.unit.moduleTime(module == 0 ? 1 : 0), bench.host);
}

void tst_PduUnit::clockWriteRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    const auto row = [](const char *name, const char *request, const char *reply) {
        QTest::newRow(name) << QByteArray(request) << frame(reply);
    };
    row("two registers only", "5510080F00020407EA0C06659C", "5590034DD1");
    row("byte count 7 for 4 registers", "5510080F00040707EA0C06040509903D", "5590034DD1");
    row("a data byte missing", "5510080F00040807EA0C06040509D07D", "5590034DD1");
    row("month 13", "5510080F00040807EA0D06040509007D4D", "5590034DD1");
    row("30 February", "5510080F00040807EA021E040509005DB0", "5590034DD1");
    row("multi write to the thresholds", "5510080500040807EA0C06040509006484", "5590028C11");
}

void tst_PduUnit::clockWriteRefused()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    Bench bench;
    QCOMPARE(ask(bench.unit, request), reply);
    QVERIFY(!bench.unit.module(0).clockSet.isValid());
    QCOMPARE(bench.unit.moduleTime(0), kHostStart);
}

void tst_PduUnit::unservedFunction_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("04 read input registers")
        << QByteArray("5504070400017CAB") << frame("558401C310");
    QTest::newRow("01 read coils") << QByteArray("550107040001B0AB") << frame("558101C040");
    QTest::newRow("2B, too short to name a module")
        << QByteArray("552B0E01A440") << frame("55AB01DF20");
}

void tst_PduUnit::unservedFunction()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    Bench bench;
    QCOMPARE(ask(bench.unit, request), reply);
}

void tst_PduUnit::silence_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("module 7 (0x7704) is an empty slot") << QByteArray("550377040001D3AB");
    QTest::newRow("module 6 (0x6704)") << QByteArray("550367040001D76B");
    QTest::newRow("module 15 (0xF704)") << QByteArray("5503F7040001FA6B");
    QTest::newRow("bad CRC") << QByteArray("550307040001C96C");
    QTest::newRow("another station") << QByteArray("010307040001C4BF");
    QTest::newRow("too short for a CRC") << QByteArray("5503 07");
    QTest::newRow("service frame without its CR")
        << QByteArray("7E32313031353639383030303046444130");
}

void tst_PduUnit::silence()
{
    QFETCH(QByteArray, request);
    Bench bench;
    QCOMPARE(ask(bench.unit, request), QByteArray());
}

void tst_PduUnit::busAddressCanChange()
{
    Bench bench;
    bench.unit.setBusAddress(0x01);
    QCOMPARE(ask(bench.unit, "550307040001C96B"), QByteArray());
    QCOMPARE(ask(bench.unit, "010307040001C4BF"), frame("01030200057847"));
}

void tst_PduUnit::silentModuleSwitch()
{
    Bench bench;
    bench.unit.silentModules.insert(1);
    QCOMPARE(ask(bench.unit, "550317040001CDAB"), QByteArray());
    QCOMPARE(ask(bench.unit, "550618020000237E"), QByteArray());
    QCOMPARE(bench.unit.module(1).switchState, quint16(2)); // nothing happened either
    QCOMPARE(ask(bench.unit, "550307040001C96B"), frame("5503020005498B"));
}

void tst_PduUnit::forcedException()
{
    Bench bench;
    bench.unit.forcedException.insert(1, 0x04);
    QCOMPARE(ask(bench.unit, "550317040001CDAB"), frame("5583040123"));
    QCOMPARE(ask(bench.unit, "550618020000237E"), frame("5586040273"));
    QCOMPARE(bench.unit.module(1).switchState, quint16(2));
    QCOMPARE(ask(bench.unit, "550307040001C96B"), frame("5503020005498B"));
}

void tst_PduUnit::corruptCrc()
{
    Bench bench;
    bench.unit.corruptCrc = true;
    const QByteArray good = QByteArray::fromHex("5503020005498B");
    const QByteArray reply = bench.unit.handleFrame(QByteArray::fromHex("550307040001C96B"));
    QCOMPARE(reply.size(), good.size());
    QCOMPARE(hex(reply.left(5)), hex(good.left(5)));
    QVERIFY(reply.at(5) != good.at(5) || reply.at(6) != good.at(6));
}

void tst_PduUnit::service_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("mac");
    const QByteArray factory = QByteArray::fromHex("003928000001");
    const QByteArray written = QByteArray::fromHex("0039289000FF");
    QTest::newRow("read MAC") << QByteArray("~210156980000FDA0\r")
                              << QByteArray("~21015600400C003928000001FB43\r") << factory;
    QTest::newRow("write MAC") << QByteArray("~21015699400C0039289000FFFAFD\r")
                               << QByteArray("~210156000000FDB1\r") << written;
    QTest::newRow("wrong checksum: 02") << QByteArray("~21015699400C0039289000FFFAFE\r")
                                        << QByteArray("~210156020000FDAF\r") << factory;
    QTest::newRow("VER 20: 01") << QByteArray("~20015699400C0039289000FFFAFE\r")
                                << QByteArray("~210156010000FDB0\r") << factory;
    QTest::newRow("LENGTH with a wrong LCHKSUM: 03")
        << QByteArray("~21015699000C0039289000FFFB01\r") << QByteArray("~210156030000FDAE\r")
        << factory;
    QTest::newRow("five bytes for a MAC: 05") << QByteArray("~21015699600A0039289000FB89\r")
                                              << QByteArray("~210156050000FDAC\r") << factory;
    QTest::newRow("read MAC with INFO: 05")
        << QByteArray("~21015698E00200FD29\r") << QByteArray("~210156050000FDAC\r") << factory;
    QTest::newRow("unknown command 90: 04")
        << QByteArray("~210156900000FDA8\r") << QByteArray("~210156040000FDAD\r") << factory;
    QTest::newRow("another CID1: 04")
        << QByteArray("~210140980000FDA7\r") << QByteArray("~210156040000FDAD\r") << factory;
    QTest::newRow("another ADR: silence")
        << QByteArray("~210256980000FD9F\r") << QByteArray() << factory;
}

void tst_PduUnit::service()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, mac);
    Bench bench;
    QCOMPARE(bench.unit.handleFrame(request), reply);
    QCOMPARE(hex(bench.unit.mac()), hex(mac));
}

void tst_PduUnit::factoryRestore()
{
    Bench bench;
    PduUnit &unit = bench.unit;
    unit.handleFrame("~21015699400C0039289000FFFAFD\r");
    ask(unit, "55061805023FD3CF"); // module 1 LVD 575
    ask(unit, "5506080E04B0E4C9"); // module 0 over-current 1200
    ask(unit, "550608010000D7BE"); // module 0 remote control off
    ask(unit, "550608070001F67F"); // module 0 time-period control on
    ask(unit, "550608080008067A"); // module 0 window 1 hour 8
    ask(unit, "550608030001B7BE"); // module 0 opened
    ask(unit, "5510080F00040807EA0C06040509007C9C");
    QCOMPARE(unit.factoryResets(), 0);

    QCOMPARE(unit.handleFrame("~210156970000FDA1\r"), QByteArray("~210156000000FDB1\r"));
    QCOMPARE(unit.factoryResets(), 1);
    QCOMPARE(hex(unit.mac()), frame("003928000001"));
    QCOMPARE(ask(unit, "5503180500019F7F"), frame("55030201B089AC"));
    QCOMPARE(ask(unit, "5503080800078A7E"), frame("55030E 000000000000000000000000 03E8 917B"));
    QCOMPARE(unit.module(0).remoteEnable, quint16(1));
    QCOMPARE(unit.module(0).timeEnable, quint16(0));
    // The breaker and the clock are not settings: they stay as they are.
    QCOMPARE(unit.module(0).switchState, quint16(1));
    QCOMPARE(unit.moduleTime(0), QDateTime(QDate(2026, 12, 6), QTime(4, 5, 9)));
}

void tst_PduUnit::forcedReturnCode()
{
    Bench bench;
    bench.unit.serviceReturnCode = 0x06;
    QCOMPARE(bench.unit.handleFrame("~21015699400C0039289000FFFAFD\r"),
             QByteArray("~210156060000FDAB\r"));
    QCOMPARE(hex(bench.unit.mac()), frame("003928000001"));
    QCOMPARE(bench.unit.handleFrame("~210156980000FDA0\r"), QByteArray("~210156060000FDAB\r"));
}

void tst_PduUnit::requestLength_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("length");
    QTest::newRow("nothing") << QByteArray() << 0;
    QTest::newRow("address only") << QByteArray::fromHex("55") << 0;
    QTest::newRow("read, 5 of 8") << QByteArray::fromHex("5503070400") << 0;
    QTest::newRow("read") << QByteArray::fromHex("550307040001C96B") << 8;
    QTest::newRow("read and the next request") << QByteArray::fromHex("550307040001C96B5506") << 8;
    QTest::newRow("write single") << QByteArray::fromHex("55060802000027BE") << 8;
    QTest::newRow("write multi, no byte count yet") << QByteArray::fromHex("5510080F0004") << 0;
    QTest::newRow("write multi, byte count 8, data to come")
        << QByteArray::fromHex("5510080F000408") << 0;
    QTest::newRow("write multi, all there")
        << QByteArray::fromHex("5510080F00040807EA0C06040509007C9C") << 17;
    QTest::newRow("unknown function") << QByteArray::fromHex("552B0E01A440") << -1;
    QTest::newRow("service, begun") << QByteArray("~21015698") << 0;
    QTest::newRow("service") << QByteArray("~210156980000FDA0\r") << 18;
    QTest::newRow("service and more") << QByteArray("~210156980000FDA0\r~21") << 18;
    QTest::newRow("a ~ that never ends") << QByteArray("~") + QByteArray(1600, '0') << -1;
}

void tst_PduUnit::requestLength()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, length);
    QCOMPARE(PduUnit::requestLength(buffer), length);
}

QTEST_APPLESS_MAIN(tst_PduUnit)
#include "tst_pduunit.moc"
