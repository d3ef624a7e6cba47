// Typed values into register values, MAC addresses and the clock block:
// the rules the write operations rely on, checked without a window.
#include "device/macaddress.h"
#include "device/values.h"

#include <QtTest>

Q_DECLARE_METATYPE(RegisterValue::Status)

class tst_Values : public QObject
{
    Q_OBJECT
private slots:
    void scaledThreshold_data();
    void scaledThreshold();
    void windowValue_data();
    void windowValue();
    void macGroups_data();
    void macGroups();
    void parseMac_data();
    void parseMac();
    void nextMacText_data();
    void nextMacText();
    void clockBlock_data();
    void clockBlock();
};

void tst_Values::scaledThreshold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("xsws");
    QTest::addColumn<RegisterValue::Status>("status");
    QTest::addColumn<int>("value");

    const auto ok = RegisterValue::Ok;
    const auto nan = RegisterValue::NotANumber;
    const auto range = RegisterValue::OutOfRange;
    // 57.6 in single precision is 57.5999984: scaled in floating point it truncates to 575.
    // clang-format off
    QTest::newRow("57.6, one place: 576") << "57.6" << 1 << ok << 576;
    QTest::newRow("57.6, no places: 57") << "57.6" << 0 << ok << 57;
    QTest::newRow("0.7, one place: 7") << "0.7" << 1 << ok << 7;
    QTest::newRow("53.5, one place: 535") << "53.5" << 1 << ok << 535;
    QTest::newRow("0.29, two places: 29, not 28") << "0.29" << 2 << ok << 29;
    QTest::newRow("finer digits dropped: 1.005 -> 100") << "1.005" << 2 << ok << 100;
    QTest::newRow("fewer digits than places: 48 -> 480") << "48" << 1 << ok << 480;
    QTest::newRow("leading and trailing zeros") << "0057.60" << 1 << ok << 576;
    QTest::newRow("blanks around") << " 12 " << 0 << ok << 12;
    QTest::newRow("plus sign") << "+5" << 1 << ok << 50;
    QTest::newRow("point without fraction") << "5." << 1 << ok << 50;
    QTest::newRow("fraction without integer") << ".5" << 1 << ok << 5;
    QTest::newRow("exponent up") << "5.76e1" << 1 << ok << 576;
    QTest::newRow("exponent down") << "576E-1" << 0 << ok << 57;
    QTest::newRow("minus zero is zero") << "-0" << 1 << ok << 0;
    QTest::newRow("below resolution: 0") << "0.04" << 1 << ok << 0;
    QTest::newRow("negative places: tens") << "576" << -1 << ok << 57;
    QTest::newRow("largest: 6553.5") << "6553.5" << 1 << ok << 65535;
    QTest::newRow("just above: 6553.6") << "6553.6" << 1 << range << 0;
    QTest::newRow("65536 whole") << "65536" << 0 << range << 0;
    QTest::newRow("six digits") << "100000" << 0 << range << 0;
    QTest::newRow("negative") << "-5" << 0 << range << 0;
    QTest::newRow("negative below resolution") << "-0.01" << 1 << range << 0;
    QTest::newRow("ten places (missing key)") << "57.6" << 10 << range << 0;
    QTest::newRow("zero with ten places") << "0" << 10 << ok << 0;
    QTest::newRow("huge exponent") << "1e99999999999999999999" << 0 << range << 0;
    QTest::newRow("tiny exponent") << "1e-99999999999999999999" << 0 << ok << 0;
    QTest::newRow("empty") << "" << 1 << RegisterValue::Empty << 0;
    QTest::newRow("blanks only") << "   " << 1 << RegisterValue::Empty << 0;
    QTest::newRow("letters") << "abc" << 1 << nan << 0;
    QTest::newRow("comma as point") << "57,6" << 1 << nan << 0;
    QTest::newRow("point alone") << "." << 1 << nan << 0;
    QTest::newRow("sign alone") << "-" << 1 << nan << 0;
    QTest::newRow("two points") << "1.2.3" << 1 << nan << 0;
    QTest::newRow("trailing letter") << "57.6V" << 1 << nan << 0;
    QTest::newRow("inf") << "inf" << 0 << nan << 0;
    QTest::newRow("nan") << "nan" << 0 << nan << 0;
    QTest::newRow("hex prefix") << "0x10" << 0 << nan << 0;
    QTest::newRow("full-width digits") << QString::fromUtf8("\xef\xbc\x95\xef\xbc\x97") << 0 << nan << 0;
    // clang-format on
}

void tst_Values::scaledThreshold()
{
    QFETCH(QString, text);
    QFETCH(int, xsws);
    QFETCH(RegisterValue::Status, status);
    QFETCH(int, value);
    const RegisterValue v = ::scaledThreshold(text, xsws);
    QCOMPARE(v.status, status);
    if (status == RegisterValue::Ok)
        QCOMPARE(int(v.value), value);
}

void tst_Values::windowValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxValue"); // 23 an hour, 59 a minute
    QTest::addColumn<RegisterValue::Status>("status");
    QTest::addColumn<int>("value");

    const auto ok = RegisterValue::Ok;
    const auto outside = RegisterValue::OutOfRange;
    // clang-format off
    QTest::newRow("hour 8") << "8" << 23 << ok << 8;
    QTest::newRow("minute 30") << "30" << 59 << ok << 30;
    QTest::newRow("hour 23, the last of a day") << "23" << 23 << ok << 23;
    QTest::newRow("minute 59") << "59" << 59 << ok << 59;
    QTest::newRow("blanks and plus") << " +7 " << 23 << ok << 7;
    QTest::newRow("leading zero") << "08" << 23 << ok << 8;
    QTest::newRow("hour 24") << "24" << 23 << outside << 0;
    QTest::newRow("minute 60") << "60" << 59 << outside << 0;
    QTest::newRow("-1 is no hour") << "-1" << 23 << outside << 0;
    QTest::newRow("65536") << "65536" << 59 << outside << 0;
    QTest::newRow("beyond 64 bits") << "99999999999999999999" << 59 << outside << 0;
    QTest::newRow("empty") << "" << 23 << RegisterValue::Empty << 0;
    QTest::newRow("fraction") << "8.5" << 23 << RegisterValue::NotANumber << 0;
    QTest::newRow("letters") << "eight" << 23 << RegisterValue::NotANumber << 0;
    QTest::newRow("hex") << "0x08" << 23 << RegisterValue::NotANumber << 0;
    // clang-format on
}

void tst_Values::windowValue()
{
    QFETCH(QString, text);
    QFETCH(int, maxValue);
    QFETCH(RegisterValue::Status, status);
    QFETCH(int, value);
    const RegisterValue v = ::windowValue(text, maxValue);
    QCOMPARE(v.status, status);
    if (status == RegisterValue::Ok)
        QCOMPARE(int(v.value), value);
}

void tst_Values::macGroups_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("groups"); // joined by "|"

    // clang-format off
    QTest::newRow("full address") << "00:39:28:90:00:FF" << "00|39|28|90|00|FF";
    QTest::newRow("short last group") << "00:39:28:90:00:F" << "00|39|28|90|00|F";
    QTest::newRow("runs out after two") << "00:39" << "00|39||||";
    QTest::newRow("empty") << "" << "|||||";
    QTest::newRow("separators not checked") << "AA-BB-CC-DD-EE-FF" << "AA|BB|CC|DD|EE|FF";
    // clang-format on
}

void tst_Values::macGroups()
{
    QFETCH(QString, text);
    QFETCH(QString, groups);
    const QStringList got = ::macGroups(text);
    QCOMPARE(got.size(), 6);
    QCOMPARE(got.join(QLatin1Char('|')), groups);
}

void tst_Values::parseMac_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("address"); // hex; "" = not an address
    QTest::addColumn<QString>("grouped");    // as the "设置mac=" line shows it

    // clang-format off
    QTest::newRow("colons") << "00:39:28:90:00:FF" << QByteArray("0039289000ff") << "00:39:28:90:00:FF";
    QTest::newRow("dashes, lower case") << "00-39-28-90-0a-ff" << QByteArray("003928900aff")
                                        << "00:39:28:90:0a:ff";
    QTest::newRow("a label's twelve digits") << "003928900020" << QByteArray("003928900020")
                                             << "00:39:28:90:00:20";
    QTest::newRow("blanks around") << " 00:39:28:90:00:20\t" << QByteArray("003928900020")
                                   << "00:39:28:90:00:20";
    QTest::newRow("two kinds of separator") << "00:39-28:90:00:20" << QByteArray()
                                            << "00:39-28:90:00:20";
    QTest::newRow("five groups") << "00:39:28:90:00" << QByteArray() << "00:39:28:90:00";
    QTest::newRow("thirteen digits") << "0039289000201" << QByteArray() << "0039289000201";
    QTest::newRow("a group of one") << "00:39:28:90:0:201" << QByteArray() << "00:39:28:90:0:201";
    QTest::newRow("not hexadecimal") << "00:39:28:9G:00:20" << QByteArray() << "00:39:28:9G:00:20";
    QTest::newRow("a blank inside") << "00:39:28:9 :00:20" << QByteArray() << "00:39:28:9 :00:20";
    QTest::newRow("a dot") << "0039.2890.0020" << QByteArray() << "0039.2890.0020";
    QTest::newRow("empty") << "" << QByteArray() << "";
    // clang-format on
}

void tst_Values::parseMac()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, address);
    quint64 value = 0;
    QCOMPARE(::parseMac(text, &value), !address.isEmpty());
    if (!address.isEmpty())
        QCOMPARE(QByteArray::number(value, 16).rightJustified(12, '0'), address);
    QTEST(groupedMacText(text), "grouped");
}

void tst_Values::nextMacText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("next");

    // clang-format off
    QTest::newRow("plain step") << "00:39:28:90:00:00" << "00:39:28:90:00:01";
    QTest::newRow("carry into group 5") << "00:39:28:90:00:FF" << "00:39:28:90:01:00";
    QTest::newRow("carry into group 4") << "00:39:28:90:FF:FF" << "00:39:28:91:00:00";
    QTest::newRow("4 to 6 lower-case: 9A -> 9a, 0A -> 0b") << "00:39:28:9A:00:0A"
                                                           << "00:39:28:9a:00:0b";
    QTest::newRow("prefix as typed") << "Ab:cD:eF:00:00:00" << "Ab:cD:eF:00:00:01";
    QTest::newRow("typed without separators") << "AbCdEf0000fe" << "Ab:Cd:Ef:00:00:ff";
    QTest::newRow("a carry into the prefix changes it") << "00:39:28:FF:FF:FF"
                                                        << "00:39:29:00:00:00";
    // clang-format on
}

void tst_Values::nextMacText()
{
    QFETCH(QString, typed);
    quint64 address = 0;
    QVERIFY(::parseMac(typed, &address));
    QTEST(::nextMacText(typed, address + 1), "next");
}

void tst_Values::clockBlock_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("block"); // hex

    // clang-format off
    QTest::newRow("2026-12-06 04:05:09") << "2026-12-06 04:05:09" << true
                                         << QByteArray("07ea0c0604050900");
    QTest::newRow("without leading zeros") << "2026-1-2 3:4:5" << true
                                           << QByteArray("07ea010203040500");
    QTest::newRow("year 2000, end of day") << "2000-02-29 23:59:59" << true
                                           << QByteArray("07d0021d173b3b00");
    QTest::newRow("date only") << "2026-12-06" << false << QByteArray();
    QTest::newRow("empty mask") << "-- ::" << false << QByteArray();
    QTest::newRow("letters") << "20x6-12-06 04:05:09" << false << QByteArray();
    // clang-format on
}

void tst_Values::clockBlock()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);
    QFETCH(QByteArray, block);
    ClockFields t;
    QCOMPARE(parseClockText(text, &t), parsed);
    if (!parsed)
        return;
    unsigned char out[8];
    ::clockBlock(t, out);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 8).toHex(), block);
}

QTEST_APPLESS_MAIN(tst_Values)
#include "tst_values.moc"
