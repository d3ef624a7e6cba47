// Read replies turned into text by the entry's type, without a window.

#include "config/devicelist.h"
#include "device/decode.h"

#include <QtTest>

#include <vector>

namespace {

const int kAll = -1; // the whole reply arrived

DeviceEntry entryOf(int type, quint16 base, int xsws)
{
    DeviceEntry e;
    e.des = QStringLiteral("x");
    e.type = type;
    e.base = base;
    e.regnum = 1;
    e.xsws = xsws;
    return e;
}

} // namespace

class tst_Decode : public QObject
{
    Q_OBJECT

private slots:
    void decodesByType_data();
    void decodesByType();
    void readsOnlyWhatArrived_data();
    void readsOnlyWhatArrived();
};

// reply: the reply from its byte count on (reply byte 2), as hex.
void tst_Decode::decodesByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("base");
    QTest::addColumn<int>("xsws");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("text");

    const QString lf = QStringLiteral("\n\t");

    // Integers: one register unsigned, two registers signed, scaled by decimal places.
    // clang-format off
    QTest::newRow("switch state 02 00 02: LVD opening")
        << 0 << 0x0704 << 0 << "02 00 02" << QString("2" + lf + "LVD 分闸,低压侦测");
    QTest::newRow("switch state 02 00 00: closed")
        << 0 << 0x0704 << 0 << "02 00 00" << QString("0" + lf + "合闸");
    QTest::newRow("switch state 02 00 01: remote")
        << 0 << 0x0704 << 0 << "02 00 01" << QString("1" + lf + "远程分闸");
    QTest::newRow("switch state 02 00 03: SOC")
        << 0 << 0x0704 << 0 << "02 00 03" << QString("3" + lf + "SOC 分闸");
    QTest::newRow("switch state 02 00 04: timer")
        << 0 << 0x0704 << 0 << "02 00 04" << QString("4" + lf + "定时分闸");
    QTest::newRow("switch state 02 00 05: by hand")
        << 0 << 0x0704 << 0 << "02 00 05" << QString("5" + lf + "本地手动分闸");
    QTest::newRow("switch state 02 00 06: no text") << 0 << 0x0704 << 0 << "02 00 06" << "6";
    QTest::newRow("switch state 02 01 00: no text") << 0 << 0x0704 << 0 << "02 01 00" << "256";
    QTest::newRow("switch state with negative places still gets its text")
        << 0 << 0x0704 << -3 << "02 00 02" << QString("2" + lf + "LVD 分闸,低压侦测");
    QTest::newRow("switch state with places: scaled, no text")
        << 0 << 0x0704 << 1 << "02 00 02" << "0.2";
    QTest::newRow("other register 02 00 02: no state text") << 0 << 0x0805 << 0 << "02 00 02" << "2";
    QTest::newRow("02 04 D2 xsws 1") << 0 << 0x0805 << 1 << "02 04 D2" << "123.4";
    QTest::newRow("04 00 12 D6 87 xsws 1: five significant digits")
        << 0 << 0x0805 << 1 << "04 00 12 D6 87" << "1.2346e+05";
    QTest::newRow("04 FF FF FF FF: signed") << 0 << 0x0805 << 0 << "04 FF FF FF FF" << "-1";
    QTest::newRow("02 FF FF: one register unsigned") << 0 << 0x0805 << 0 << "02 FF FF" << "65535";
    QTest::newRow("04 FF FF FF FF xsws 2") << 0 << 0x0805 << 2 << "04 FF FF FF FF" << "-0.01";
    QTest::newRow("02 04 D2 xsws -2: as it is") << 0 << 0x0805 << -2 << "02 04 D2" << "1234";
    QTest::newRow("08 00 00 00 01 80 00 00 00: low 32 bits")
        << 0 << 0x0805 << 0 << "08 00 00 00 01 80 00 00 00" << "-2147483648";
    QTest::newRow("0A 11 22 then 00*7 05: last eight bytes")
        << 0 << 0x0805 << 0 << "0A 11 22 00 00 00 00 00 00 00 05" << "5";
    QTest::newRow("00: no data is 0") << 0 << 0x0805 << 0 << "00" << "0";
    QTest::newRow("02 04 D2 xsws 400: scaled to nothing") << 0 << 0x0805 << 400 << "02 04 D2" << "0";
    QTest::newRow("04 FF FF FF FF xsws INT_MAX: no -0")
        << 0 << 0x0805 << std::numeric_limits<int>::max() << "04 FF FF FF FF" << "0";

    // IEEE doubles.
    QTest::newRow("08 40 09 21 FB 54 44 2D 18: pi")
        << 1 << 0x0900 << 0 << "08 40 09 21 FB 54 44 2D 18" << "3.142";
    QTest::newRow("0A 12 34 then pi: last eight bytes")
        << 1 << 0x0900 << 0 << "0A 12 34 40 09 21 FB 54 44 2D 18" << "3.142";
    QTest::newRow("00: double of nothing") << 1 << 0x0900 << 0 << "00" << "0";

    // Hexadecimal bytes.
    QTest::newRow("02 0A 1B") << 3 << 0x0900 << 0 << "02 0A 1B" << "0A1B";
    QTest::newRow("00: empty hex") << 3 << 0x0900 << 0 << "00" << "";

    // Status bits, and the protection flags of 0x070F.
    QTest::newRow("flags 02 00 21: short circuit and link lost")
        << 4 << 0x070F << 0 << "02 00 21"
        << QString("0000000000100001" + lf + "短路保护" + lf + "通讯中断");
    QTest::newRow("flags 02 00 3F: all six in bit order")
        << 4 << 0x070F << 0 << "02 00 3F"
        << QString("0000000000111111" + lf + "短路保护" + lf + "过流保护" + lf + "过压保护"
                   + lf + "过热保护" + lf + "低压脱扣状态" + lf + "通讯中断");
    QTest::newRow("flags 02 FF C0: bits 6 to 15 have no text")
        << 4 << 0x070F << 0 << "02 FF C0" << "1111111111000000";
    QTest::newRow("bits 02 00 21 elsewhere: no texts")
        << 4 << 0x0704 << 0 << "02 00 21" << "0000000000100001";
    QTest::newRow("bits 04 80 01 12 34: first register only")
        << 4 << 0x0900 << 0 << "04 80 01 12 34" << "1000000000000001";

    // Date and time.
    QTest::newRow("clock 08 07 EA 03 0F 0C 1E 2D 00")
        << 8 << 0x080F << 0 << "08 07 EA 03 0F 0C 1E 2D 00" << "2026-03-15 12:30:45:00";
    QTest::newRow("clock 04 07 EA 0C 06: date only")
        << 8 << 0x080F << 0 << "04 07 EA 0C 06" << "2026-12-06";
    QTest::newRow("clock 05 07 EA 0C 06 04: hour after a blank")
        << 8 << 0x080F << 0 << "05 07 EA 0C 06 04" << "2026-12-06 04";
    QTest::newRow("clock 02 00 05: year without leading zeros")
        << 8 << 0x080F << 0 << "02 00 05" << "5";

    // Types without a display.
    for (int type : {2, 5, 6, 7, 9, 10, 42, -1}) {
        QTest::addRow("type %d shows nothing", type) << type << 0x0704 << 0 << "02 00 02" << "";
    }
    // clang-format on
}

void tst_Decode::decodesByType()
{
    QFETCH(int, type);
    QFETCH(int, base);
    QFETCH(int, xsws);
    QFETCH(QString, reply);
    QFETCH(QString, text);

    const QByteArray bytes = QByteArray::fromHex(reply.toLatin1());
    // Exactly the bytes of the reply, so that a sanitizer sees any read beyond them.
    std::vector<unsigned char> exact(bytes.begin(), bytes.end());
    QCOMPARE(decodeReply(entryOf(type, quint16(base), xsws), exact.data(), int(exact.size())),
             text);
}

// The byte count comes from the unit; only bytes that arrived count.
void tst_Decode::readsOnlyWhatArrived_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("base");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("available");
    QTest::addColumn<QString>("text");

    // clang-format off
    QTest::newRow("08 04 D2: count says 8, two data bytes came")
        << 0 << 0x0805 << "08 04 D2" << kAll << "1234";
    QTest::newRow("02 0A 1B 99: bytes past the count are not data")
        << 3 << 0x0900 << "02 0A 1B 99" << kAll << "0A1B";
    QTest::newRow("FF 0A 1B: hex of what came") << 3 << 0x0900 << "FF 0A 1B" << kAll << "0A1B";
    QTest::newRow("02 0A 1B with one byte available: nothing")
        << 3 << 0x0900 << "02 0A 1B" << 1 << "";
    QTest::newRow("nothing available") << 3 << 0x0900 << "02 0A 1B" << 0 << "";
    QTest::newRow("negative available") << 0 << 0x0805 << "02 04 D2" << -5 << "0";
    QTest::newRow("INT_MIN available")
        << 3 << 0x0900 << "02 0A 1B" << std::numeric_limits<int>::min() << "";
    QTest::newRow("02 00 with half a switch state: no state text")
        << 0 << 0x0704 << "02 00 02" << 2 << "0";
    QTest::newRow("02 00 21 flags with half a register: nothing")
        << 4 << 0x070F << "02 00 21" << 2 << "";
    QTest::newRow("08 07 EA 03: clock cut short")
        << 8 << 0x080F << "08 07 EA 03" << kAll << "2026-03";
    QTest::newRow("08 07: clock without a year") << 8 << 0x080F << "08 07" << kAll << "";
    // clang-format on
}

void tst_Decode::readsOnlyWhatArrived()
{
    QFETCH(int, type);
    QFETCH(int, base);
    QFETCH(QString, reply);
    QFETCH(int, available);
    QFETCH(QString, text);

    const QByteArray bytes = QByteArray::fromHex(reply.toLatin1());
    const int arrived = available == kAll ? bytes.size() : qMax(available, 0);
    std::vector<unsigned char> exact(bytes.begin(), bytes.begin() + arrived);
    QCOMPARE(decodeReply(entryOf(type, quint16(base), 0), exact.data(),
                         available == kAll ? arrived : available),
             text);
}

QTEST_APPLESS_MAIN(tst_Decode)
#include "tst_decode.moc"
