// MAC read and write and factory defaults over the service packets: against
// the simulated unit, and against hand-made replies on a bare line for the
// replies a sound unit never gives.
#include "device/journal.h"
#include "support/testdata.h"
#include "support/unitonline.h"
#include "support/windowdriver.h"
#include "tools/pty.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSysInfo>
#include <QTableView>
#include <QTimer>
#include <QtTest>

namespace {

// The far end of a bare line: answers every request (up to its carriage
// return) with the same bytes, or stays silent when there are none.
struct CannedLine
{
    PtyPair pty;
    QByteArray reply;
    QByteArray pending;
    QStringList requests;

    CannedLine()
    {
        QObject::connect(&pty, &PtyPair::bytesArrived, &pty, [this](const QByteArray &chunk) {
            pending += chunk;
            if (!pending.contains('\r'))
                return;
            requests << asSeen(pending);
            pending.clear();
            if (!reply.isEmpty())
                pty.writeMaster(reply);
        });
    }
};

const QByteArray kMac = QByteArray::fromHex("0039289000ab");
const QString kReadBanner = QStringLiteral("---------读取mac-------------");
const QString kWriteBanner = QStringLiteral("---------设置mac-------------");

QLineEdit *field(BenchRig &rig, const char *name)
{
    return widget<QLineEdit>(rig.window(), name);
}

// The read field without the separators its input mask always shows.
QString readMacDigits(BenchRig &rig)
{
    return field(rig, "lineEdit_rdmac")->text().remove(QLatin1Char(':'));
}

// The record the window keeps, opened apart from it.
QVector<JournalRow> recordRows()
{
    JournalOptions options;
    options.path = JournalOptions::defaultSqlitePath();
    Journal journal(options);
    QString error;
    const QVector<JournalRow> rows = journal.rows(QString(), &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return rows;
}

void lookUp(BenchRig &rig, const QString &sn)
{
    QLineEdit *edit = field(rig, "lineEdit_sn");
    edit->setText(sn);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class tst_Provisioning : public QObject
{
    Q_OBJECT
private slots:
    void referencePacketMatchesPublishedValues();
    void readMac_data();
    void readMac();
    void readMacUnsoundReplies_data();
    void readMacUnsoundReplies();
    void writeMac_data();
    void writeMac();
    void blockEndWrittenOnce();
    void writeMacRefused_data();
    void writeMacRefused();
    void typedAndPastedAddresses_data();
    void typedAndPastedAddresses();
    void fieldAdvancesOnlyWhenVerified_data();
    void fieldAdvancesOnlyWhenVerified();
    void writeMacCutShort_data();
    void writeMacCutShort();
    void consecutiveUnitsGetConsecutiveAddresses();
    void factoryDefaults();
    void readBackDisagrees();
    void everyCommandOnRecord();
    void addressKeptToOneUnit_data();
    void addressKeptToOneUnit();
    void oneAddressPerUnit();
    void recordUnusable_data();
    void recordUnusable();
    void recordLostOrReplaced_data();
    void recordLostOrReplaced();
    void lookupLeavesNoWrongAddress_data();
    void lookupLeavesNoWrongAddress();
    void recordWindowFindsTheUnit_data();
    void recordWindowFindsTheUnit();
    void exportRecord();
};

void tst_Provisioning::referencePacketMatchesPublishedValues()
{
    QCOMPARE(servicePacket(0x98), QByteArray("~210156980000FDA0\r"));
    const QByteArray six = servicePacket(0x99, kMac);
    QCOMPARE(six.size(), 30);
    QCOMPARE(six.mid(9, 4), QByteArray("400C"));
}

void tst_Provisioning::readMac_data()
{
    QTest::addColumn<QByteArray>("unitMac");
    QTest::addColumn<int>("returnCode");
    QTest::addColumn<QString>("shown");    // the read field, without separators
    QTest::addColumn<QStringList>("tail"); // result lines after the banner

    // clang-format off
    QTest::newRow("six bytes fill the field") << kMac << 0 << "0039289000ab"
        << QStringList{"serial_query成功", "收到报文：00 39 28 90 00 ab"};
    QTest::newRow("no INFO empties the field") << QByteArray() << 0 << ""
        << QStringList{"serial_query成功", "收到报文："};
    QTest::newRow("return code 04 shown, field emptied") << kMac << 4 << ""
        << QStringList{"serial_query成功", "收到报文：", "设备返回错误：04 CID2无效"};
    QTest::newRow("return code 06 shown, field emptied") << kMac << 6 << ""
        << QStringList{"serial_query成功", "收到报文：", "设备返回错误：06 无效数据"};
    // clang-format on
}

void tst_Provisioning::readMac()
{
    QFETCH(QByteArray, unitMac);
    QFETCH(int, returnCode);
    QFETCH(QString, shown);
    QFETCH(QStringList, tail);

    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().setMac(unitMac);
    rig.unit().serviceReturnCode = quint8(returnCode);
    field(rig, "lineEdit_rdmac")->setText(QStringLiteral("112233445566")); // an earlier unit's
    rig.click("pushButton_rdmac");

    QCOMPARE(rig.requestsSeen(), QStringList{asSeen("~210156980000FDA0\r")});
    QCOMPARE(field(rig, "lineEditSend1")->text().size(), 54);
    QCOMPARE(readMacDigits(rig), shown);
    if (!shown.isEmpty())
        QCOMPARE(field(rig, "lineEdit_rdmac")->text(), QStringLiteral("00:39:28:90:00:ab"));
    QCOMPARE(trimmed(resultLines(rig.window())), QStringList{kReadBanner} + tail);
}

void tst_Provisioning::readMacUnsoundReplies_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: no reply at all
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("tail");

    const QByteArray sound = servicePacket(0x00, kMac);
    QByteArray badChecksum = sound;
    badChecksum[badChecksum.size() - 2] = badChecksum.at(badChecksum.size() - 2) == '0' ? '1' : '0';

    // clang-format off
    QTest::newRow("noise around a sound packet is ignored")
        << QByteArray("\x11\x22") + sound + QByteArray("\x33") << "0039289000ab"
        << QStringList{"serial_query成功", "收到报文：00 39 28 90 00 ab"};
    QTest::newRow("bad checksum: said, field emptied") << badChecksum << ""
        << QStringList{"serial_query成功", "收到报文：00 39 28 90 00 ab",
                       "应答报文校验和错误，结果无效"};
    QTest::newRow("no packet in the reply") << QByteArray::fromHex("0102030405060708") << ""
        << QStringList{"serial_query成功", "应答中没有服务报文"};
    QTest::newRow("five bytes are no reply") << QByteArray("~2101") << ""
        << QStringList{"serial_query失败"};
    QTest::newRow("no reply") << QByteArray() << "" << QStringList{"serial_query失败"};
    // clang-format on
}

void tst_Provisioning::readMacUnsoundReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    QFETCH(QStringList, tail);

    CannedLine line; // outlives the window, whose port closes first
    line.reply = reply;
    BenchRig rig;
    QVERIFY(rig.ready());
    widget<QAction>(rig.window(), "actionClose")->trigger();
    QVERIFY(openPortOn(rig.window(), line.pty.slavePath()));
    field(rig, "lineEdit_rdmac")->setText(QStringLiteral("112233445566"));
    rig.click("pushButton_rdmac");

    QCOMPARE(line.requests, QStringList{asSeen("~210156980000FDA0\r")});
    QCOMPARE(readMacDigits(rig), shown);
    QCOMPARE(trimmed(resultLines(rig.window())), QStringList{kReadBanner} + tail);
}

void tst_Provisioning::writeMac_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");  // the six address bytes, hex
    QTest::addColumn<QString>("next");     // the field afterwards
    QTest::addColumn<QString>("nextLine"); // the line after "增加值=1"

    // clang-format off
    QTest::newRow("..00:FF sent, field ..01:00") << "00:39:28:90:00:FF"
        << QByteArray("0039289000ff") << "00:39:28:90:01:00" << "下个mac=00:39:28:90:01:00";
    QTest::newRow("..90:FF:FF sent, field ..91:00:00") << "00:39:28:90:FF:FF"
        << QByteArray("00392890ffff") << "00:39:28:91:00:00" << "下个mac=00:39:28:91:00:00";
    QTest::newRow("groups 4 to 6 lower-case: 9A -> 9a, 0A -> 0b") << "00:39:28:9A:00:0A"
        << QByteArray("0039289a000a") << "00:39:28:9a:00:0b" << "下个mac=00:39:28:9a:00:0b";
    QTest::newRow("end of the block: sent, field keeps it") << "00:39:28:FF:FF:FF"
        << QByteArray("003928ffffff") << "00:39:28:FF:FF:FF"
        << "本段MAC地址已用完，请输入新的MAC地址";
    // clang-format on
}

void tst_Provisioning::writeMac()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    QFETCH(QString, next);
    QFETCH(QString, nextLine);

    BenchRig rig;
    QVERIFY(rig.ready());
    field(rig, "lineEdit_wrmac")->setText(typed);
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), typed);
    rig.click("pushButton_wrmac");

    const QByteArray address = QByteArray::fromHex(sent);
    QCOMPARE(rig.requestsSeen(),
             (QStringList{asSeen(servicePacket(0x99, address)), asSeen(servicePacket(0x98))}));
    QCOMPARE(rig.unit().mac(), address);
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), next);
    QCOMPARE(
        trimmed(resultLines(rig.window())),
        (QStringList{kWriteBanner, "设置mac=" + typed, "增加值=1", nextLine, "serial_query成功",
                     "收到报文：", "serial_query成功",
                     "收到报文：" + QString::fromLatin1(address.toHex(' ')), "MAC读回校验通过"}));
}

// The last address of a block goes to one unit only: a second press with the
// field still on it sends nothing; a new address typed in is written again.
void tst_Provisioning::blockEndWrittenOnce()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:FF:FF:FF"));
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.requestsSeen().size(), 2); // the write and its read-back

    rig.clearRequests();
    rig.click("pushButton_wrmac");
    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(resultLines(rig.window()).last(),
             QStringLiteral("MAC 00:39:28:FF:FF:FF 已于 2026-12-07 09:30:00 写入 SN 无，未写入"));

    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:91:00:00"));
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.requestsSeen().size(), 2);
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928910000"));
}

void tst_Provisioning::writeMacRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("groups"); // as the "设置mac=" line shows them

    // clang-format off
    // The field takes hexadecimal digits only: what is left is an address cut short.
    QTest::newRow("a one-digit group") << "00:39:28:90:00:F" << "00:39:28:90:00:F";
    QTest::newRow("five groups") << "00:39:28:90:00" << "00:39:28:90:00:";
    // clang-format on
}

void tst_Provisioning::writeMacRefused()
{
    QFETCH(QString, typed);
    QFETCH(QString, groups);

    BenchRig rig;
    QVERIFY(rig.ready());
    field(rig, "lineEdit_wrmac")->setText(typed);
    const QString before = field(rig, "lineEdit_wrmac")->text();
    rig.click("pushButton_wrmac");

    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), before);
    QCOMPARE(rig.unit().mac(), PduUnit::factoryMac());
    QCOMPARE(trimmed(resultLines(rig.window())),
             (QStringList{kWriteBanner, "设置mac=" + groups, "增加值=1",
                          "MAC地址每组须为两位十六进制数，未发送"}));
}

void tst_Provisioning::typedAndPastedAddresses_data()
{
    QTest::addColumn<QByteArray>("macSection"); // added to the sample config.ini
    QTest::addColumn<bool>("paste");            // else typed key by key
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");   // the field afterwards, what will be sent
    QTest::addColumn<QByteArray>("sent"); // the address bytes in hex; "" = refused
    QTest::addColumn<QString>("line");    // the last result line

    const QString verified = QStringLiteral("MAC读回校验通过");
    const QString block
        = QStringLiteral("本线地址段为 00:39:28:00:00:00–00:39:28:FF:FF:FF，未写入");
    // clang-format off
    QTest::newRow("a label's 12 digits typed") << QByteArray() << false << "003928900020"
        << "00:39:28:90:00:20" << QByteArray("003928900020") << verified;
    QTest::newRow("typed with dashes") << QByteArray() << false << "00-39-28-90-00-21"
        << "00:39:28:90:00:21" << QByteArray("003928900021") << verified;
    QTest::newRow("typed in lower case") << QByteArray() << false << "00:39:28:90:00:2a"
        << "00:39:28:90:00:2a" << QByteArray("00392890002a") << verified;
    QTest::newRow("pasted with dashes") << QByteArray() << true << "00-39-28-90-00-23"
        << "00:39:28:90:00:23" << QByteArray("003928900023") << verified;
    QTest::newRow("pasted as 12 digits") << QByteArray() << true << "00392890002B"
        << "00:39:28:90:00:2B" << QByteArray("00392890002b") << verified;
    QTest::newRow("multicast typed: refused") << QByteArray() << false << "03:30:28:00:00:03"
        << "03:30:28:00:00:03" << QByteArray()
        << "MAC 03:30:28:00:00:03 是组播地址（第一字节最低位为1），" + block;
    QTest::newRow("unicast outside the block: refused") << QByteArray() << true << "003929000001"
        << "00:39:29:00:00:01" << QByteArray() << "MAC 00:39:29:00:00:01 不在本线的地址段内，" + block;
    QTest::newRow("all zero: refused") << QByteArray() << false << "000000000000"
        << "00:00:00:00:00:00" << QByteArray() << "MAC 00:00:00:00:00:00 是全零地址，" + block;
    QTest::newRow("broadcast: refused") << QByteArray() << false << "ffffffffffff"
        << "ff:ff:ff:ff:ff:ff" << QByteArray() << "MAC FF:FF:FF:FF:FF:FF 是广播地址，" + block;
    const QByteArray twoAddresses("[mac]\nfirst=00:39:28:90:00:00\nlast=00-39-28-90-00-01\n");
    QTest::newRow("the line's own block: its last address written") << twoAddresses << false
        << "003928900001" << "00:39:28:90:00:01" << QByteArray("003928900001") << verified;
    QTest::newRow("the line's own block: beyond its last, refused") << twoAddresses << false
        << "003928900002" << "00:39:28:90:00:02" << QByteArray()
        << "MAC 00:39:28:90:00:02 不在本线的地址段内，本线地址段为 "
           "00:39:28:90:00:00–00:39:28:90:00:01，未写入";
    QTest::newRow("a multicast address in a block that holds it: refused")
        << QByteArray("[mac]\nfirst=02:00:00:00:00:00\nlast=03:00:00:00:00:ff\n") << false
        << "030000000005" << "03:00:00:00:00:05" << QByteArray()
        << "MAC 03:00:00:00:00:05 是组播地址（第一字节最低位为1），本线地址段为 "
           "02:00:00:00:00:00–03:00:00:00:00:FF，未写入";
    QTest::newRow("a [mac] key misspelt: nothing written")
        << QByteArray("[mac]\nfrist=00:39:28:90:00:00\n") << false << "003928900020"
        << "00:39:28:90:00:20" << QByteArray()
        << "config.ini [mac] frist= 不是可用的键（只有 first 和 last），不写入MAC地址";
    // clang-format on
}

// The address field takes what people type and paste, shows what will be
// sent, and only an address of the line's block that names one unit goes out.
void tst_Provisioning::typedAndPastedAddresses()
{
    QFETCH(QByteArray, macSection);
    QFETCH(bool, paste);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(QByteArray, sent);
    QFETCH(QString, line);

    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    BenchRig rig(sample.readAll() + "\n" + macSection);
    QVERIFY(rig.ready());
    QLineEdit *edit = field(rig, "lineEdit_wrmac");
    edit->clear();
    if (paste) {
        QGuiApplication::clipboard()->setText(keys);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    } else {
        QTest::keyClicks(edit, keys);
    }
    QCOMPARE(edit->text(), shown);
    rig.click("pushButton_wrmac");

    QCOMPARE(resultLines(rig.window()).last(), line);
    if (sent.isEmpty()) {
        QVERIFY(rig.requestsSeen().isEmpty());
        QCOMPARE(rig.unit().mac(), PduUnit::factoryMac());
        QCOMPARE(edit->text(), shown);
        return;
    }
    const QByteArray address = QByteArray::fromHex(sent);
    QCOMPARE(rig.requestsSeen(),
             (QStringList{asSeen(servicePacket(0x99, address)), asSeen(servicePacket(0x98))}));
    QCOMPARE(rig.unit().mac(), address);
}

// What goes wrong between the address leaving and its read-back.
enum class WriteFault { None, Silent, DeviceError, ForgetsWrite };
Q_DECLARE_METATYPE(WriteFault)

void tst_Provisioning::fieldAdvancesOnlyWhenVerified_data()
{
    QTest::addColumn<WriteFault>("fault");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("result"); // as the record keeps it

    QTest::newRow("verified: the field moves on")
        << WriteFault::None << "MAC读回校验通过" << QString::fromLatin1(kResultVerified);
    QTest::newRow("no answer: the field keeps the address")
        << WriteFault::Silent << "serial_query失败" << QString::fromLatin1(kResultNoReply);
    QTest::newRow("the unit refuses: the field keeps the address")
        << WriteFault::DeviceError << "设备返回错误：06 无效数据"
        << QString::fromLatin1(kResultDeviceError);
    QTest::newRow("another address read back: the field keeps it")
        << WriteFault::ForgetsWrite << "MAC读回校验失败：读回 00:39:28:90:00:ab"
        << QString::fromLatin1(kResultReadBackFailed);
}

// After any failure the field keeps the address, so that pressing again
// writes the same one to the same unit (said to be a rewrite); the next unit
// is never refused its own address because of it.
void tst_Provisioning::fieldAdvancesOnlyWhenVerified()
{
    QFETCH(WriteFault, fault);
    QFETCH(QString, lastLine);
    QFETCH(QString, result);

    CannedLine silent; // outlives the window, whose port closes first
    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    rig.unit().setMac(kMac);
    lookUp(rig, QStringLiteral("PDU2411A0001")); // 00:39:28:90:00:10
    switch (fault) {
    case WriteFault::None:
        break;
    case WriteFault::Silent:
        widget<QAction>(rig.window(), "actionClose")->trigger();
        QVERIFY(openPortOn(rig.window(), silent.pty.slavePath()));
        break;
    case WriteFault::DeviceError:
        rig.unit().serviceReturnCode = 0x06;
        break;
    case WriteFault::ForgetsWrite:
        rig.unit().forgetMacWrites = true;
        break;
    }
    rig.click("pushButton_wrmac");
    QCOMPARE(resultLines(rig.window()).last(), lastLine);
    QCOMPARE(recordRows().value(0).result, result);
    if (fault == WriteFault::None) {
        QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:11"));
        return;
    }
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:10"));

    // The fault mended, pressed again for the same unit.
    rig.unit().serviceReturnCode = 0;
    rig.unit().forgetMacWrites = false;
    if (fault == WriteFault::Silent) {
        widget<QAction>(rig.window(), "actionClose")->trigger();
        QVERIFY(openPortOn(rig.window(), rig.line().portPath()));
    }
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900010"));
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:11"));
    QVERIFY(resultLines(rig.window())
                .contains(QStringLiteral("SN PDU2411A0001 已于 2026-12-07 09:30:00 在 %1 "
                                         "写入过该地址，本次为重写")
                              .arg(QSysInfo::machineHostName())));

    // The next unit gets the next address.
    rig.unit().setMac(PduUnit::factoryMac());
    lookUp(rig, QStringLiteral("PDU2411A0002"));
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900011"));
}

// A write that ends before its outcome is known: Cancel at the "open the
// port?" question sends nothing, so the address stays free; a line that goes
// after the packet left may have given the unit the address, so it stays
// claimed. Either way the field keeps it: nothing was verified.
void tst_Provisioning::writeMacCutShort_data()
{
    QTest::addColumn<bool>("lineGoes"); // else the port is closed and Cancel answers
    QTest::addColumn<QString>("field"); // the address field afterwards
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("cancelled before sending: address free again")
        << false << "00:39:28:90:00:10" << QString::fromLatin1(kResultNotSent) << "操作已取消";
    QTest::newRow("line gone during the read-back: address kept for the unit")
        << true << "00:39:28:90:00:10" << QString::fromLatin1(kResultAborted)
        << "串口已断开，操作中止";
}

void tst_Provisioning::writeMacCutShort()
{
    QFETCH(bool, lineGoes);
    QFETCH(QString, field);
    QFETCH(QString, result);
    QFETCH(QString, lastLine);
    BenchRig rig;
    QVERIFY(rig.ready());
    ::field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:10"));
    if (lineGoes)
        rig.line().faults.hangUpAfterRequests = 1;
    else
        widget<QAction>(rig.window(), "actionClose")->trigger();
    const ModalAnswerer boxes(QMessageBox::Cancel);
    rig.click("pushButton_wrmac");

    QCOMPARE(boxes.count(), lineGoes ? 0 : 1);
    // The line goes once the write is answered: its read-back is cut off.
    QCOMPARE(rig.requestsSeen().size(), lineGoes ? 2 : 0);
    QCOMPARE(::field(rig, "lineEdit_wrmac")->text(), field);
    const QStringList lines = trimmed(resultLines(rig.window()));
    QCOMPARE(lines.last(), lastLine);
    QVERIFY2(!lines.contains(QStringLiteral("serial_query失败")), qPrintable(lines.join('|')));
    const QVector<JournalRow> rows = recordRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).result, result);

    // Whether another unit may now be given the address.
    JournalOptions options;
    options.path = JournalOptions::defaultSqlitePath();
    Journal journal(options);
    const Journal::Start other
        = journal.begin(QLatin1String(kOpWriteMac), 0, QStringLiteral("x"), QStringLiteral("OTHER"),
                        QStringLiteral("00:39:28:90:00:10"));
    QVERIFY(other.error.isEmpty());
    QCOMPARE(other.taken, lineGoes);
}

void tst_Provisioning::consecutiveUnitsGetConsecutiveAddresses()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:FE"));
    rig.click("pushButton_wrmac");
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("0039289000fe"));
    rig.unit().setMac(PduUnit::factoryMac()); // the next unit
    rig.click("pushButton_wrmac");

    const QString readBack = asSeen(servicePacket(0x98));
    QCOMPARE(
        rig.requestsSeen(),
        (QStringList{asSeen(servicePacket(0x99, QByteArray::fromHex("0039289000fe"))), readBack,
                     asSeen(servicePacket(0x99, QByteArray::fromHex("0039289000ff"))), readBack}));
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("0039289000ff"));
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:01:00"));
}

void tst_Provisioning::factoryDefaults()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().setMac(kMac);
    rig.unit().module(1).lvdValue = 576;
    rig.unit().module(3).windows[0] = 8;
    rig.unit().module(0).remoteEnable = 0;
    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:01"));
    rig.click("pushButton_deffac");

    QCOMPARE(rig.requestsSeen(), QStringList{asSeen(servicePacket(0x97))});
    QCOMPARE(rig.unit().factoryResets(), 1);
    QCOMPARE(rig.unit().mac(), PduUnit::factoryMac());
    const PduModule factory = PduUnit::factoryModule();
    QCOMPARE(rig.unit().module(1).lvdValue, factory.lvdValue);
    QCOMPARE(rig.unit().module(3).windows[0], factory.windows[0]);
    QCOMPARE(rig.unit().module(0).remoteEnable, factory.remoteEnable);
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:01"));
    QCOMPARE(trimmed(resultLines(rig.window())),
             (QStringList{"---------恢复出厂默认-------------", "serial_query成功", "收到报文："}));
}

// A unit that acknowledges the write but keeps its old address: the write
// is not a success, and the record says so.
void tst_Provisioning::readBackDisagrees()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    rig.unit().setMac(kMac);
    rig.unit().forgetMacWrites = true;
    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:20"));
    rig.click("pushButton_wrmac");

    QCOMPARE(rig.requestsSeen().size(), 2);
    QCOMPARE(resultLines(rig.window()).last(),
             QStringLiteral("MAC读回校验失败：读回 00:39:28:90:00:ab"));
    const QVector<JournalRow> rows = recordRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).result, QString::fromLatin1(kResultReadBackFailed));
    QCOMPARE(rows.at(0).mac, QStringLiteral("00:39:28:90:00:20"));
}

void tst_Provisioning::everyCommandOnRecord()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    const QDateTime fixed(QDate(2026, 12, 7), QTime(9, 30, 0));
    MainWindowProbe::setClock(rig.window(), fixed);
    lookUp(rig, QStringLiteral("PDU2411A0002"));
    rig.click("pushButton_wrmac");
    rig.click("pushButton_rdmac");
    rig.unit().serviceReturnCode = 0x06;
    rig.click("pushButton_deffac");

    const QVector<JournalRow> rows = recordRows();
    QCOMPARE(rows.size(), 3);
    // Newest first.
    QCOMPARE(rows.at(2).operation, QString::fromLatin1(kOpWriteMac));
    QCOMPARE(rows.at(2).result, QString::fromLatin1(kResultVerified));
    QCOMPARE(rows.at(2).sn, QStringLiteral("PDU2411A0002"));
    QCOMPARE(rows.at(2).mac, QStringLiteral("00:39:28:90:00:11"));
    QCOMPARE(rows.at(2).timeMs, fixed.toMSecsSinceEpoch());
    QCOMPARE(rows.at(2).port, windowPort(rig.window())->portName());
    QVERIFY(!rows.at(2).bench.isEmpty());
    QCOMPARE(rows.at(1).operation, QString::fromLatin1(kOpReadMac));
    QCOMPARE(rows.at(1).sn, QStringLiteral("PDU2411A0002"));
    QCOMPARE(rows.at(1).result, QString::fromLatin1(kResultOk));
    QCOMPARE(rows.at(1).mac, QStringLiteral("00:39:28:90:00:11"));
    QCOMPARE(rows.at(0).operation, QString::fromLatin1(kOpFactoryReset));
    QCOMPARE(rows.at(0).result, QString::fromLatin1(kResultDeviceError));
    QCOMPARE(rows.at(0).detail, QStringLiteral("设备返回错误：06 无效数据"));
}

void tst_Provisioning::addressKeptToOneUnit_data()
{
    QTest::addColumn<QString>("firstSn"); // "" = typed without a lookup
    QTest::addColumn<QString>("secondSn");
    QTest::addColumn<QString>("refusal"); // "" = written again

    const QString at = QStringLiteral("2026-12-07 09:30:00");
    QTest::newRow("another unit's address refused")
        << "PDU2411A0001"
        << "PDU2411A0002"
        << "MAC 00:39:28:90:00:10 已于 " + at + " 写入 SN PDU2411A0001，未写入";
    QTest::newRow("written without SN, then for a unit: refused")
        << ""
        << "PDU2411A0001"
        << "MAC 00:39:28:90:00:10 已于 " + at + " 写入 SN 无，未写入";
    QTest::newRow("written without SN twice: refused")
        << ""
        << ""
        << "MAC 00:39:28:90:00:10 已于 " + at + " 写入 SN 无，未写入";
    QTest::newRow("the same unit again: re-provisioned") << "PDU2411A0001"
                                                         << "PDU2411A0001"
                                                         << "";
}

void tst_Provisioning::addressKeptToOneUnit()
{
    QFETCH(QString, firstSn);
    QFETCH(QString, secondSn);
    QFETCH(QString, refusal);

    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    const QString address = QStringLiteral("00:39:28:90:00:10"); // PDU2411A0001's in mac.csv
    for (const QString &sn : {firstSn, secondSn}) {
        if (!sn.isEmpty())
            lookUp(rig, sn);
        field(rig, "lineEdit_wrmac")->setText(address);
        rig.clearRequests();
        rig.click("pushButton_wrmac");
    }
    const QVector<JournalRow> rows = recordRows();
    QCOMPARE(rows.size(), 2);
    if (refusal.isEmpty()) {
        QCOMPARE(rig.requestsSeen().size(), 2);
        QCOMPARE(rows.at(0).result, QString::fromLatin1(kResultVerified));
        return;
    }
    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(resultLines(rig.window()).last(), refusal);
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), address); // not moved on
    QCOMPARE(rows.at(0).result, QString::fromLatin1(kResultRefused));
    QCOMPARE(rows.at(0).detail, refusal);
}

// A unit that has a verified address gets no other: the serial-number field
// still holding its number, the next press is refused and the field stays on
// the next address, which the next unit then gets.
void tst_Provisioning::oneAddressPerUnit()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    MainWindowProbe::setClock(rig.window(), QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    lookUp(rig, QStringLiteral("PDU2411A0001"));
    rig.click("pushButton_wrmac");
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:11"));

    rig.clearRequests();
    rig.click("pushButton_wrmac");
    QVERIFY(rig.requestsSeen().isEmpty());
    QCOMPARE(resultLines(rig.window()).last(),
             QStringLiteral("SN PDU2411A0001 已于 2026-12-07 09:30:00 写入 MAC 00:39:28:90:00:10，"
                            "未写入"));
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:11"));
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900010"));

    rig.unit().setMac(PduUnit::factoryMac()); // the next unit, its own label scanned
    lookUp(rig, QStringLiteral("PDU2411A0002"));
    rig.click("pushButton_wrmac");
    QCOMPARE(resultLines(rig.window()).last(), QStringLiteral("MAC读回校验通过"));
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900011"));
}

void tst_Provisioning::recordUnusable_data()
{
    QTest::addColumn<QByteArray>("section"); // added to the sample config.ini
    QTest::addColumn<QString>("named");      // what the refusing line names

    QTest::newRow("a folder that cannot be made")
        << QByteArray("[journal]\npath=/dev/null/record/provisioning.db\n") << "/dev/null/record";
    QTest::newRow("driver misspelt: no private record instead")
        << QByteArray("[journal]\ndriver=postgersql\nhost=db.line3.local\n") << "driver=postgersql";
    QTest::newRow("a key misspelt")
        << QByteArray("[journal]\ndrvier=postgresql\nhost=db\n") << "drvier=";
    QTest::newRow("a server named, its driver forgotten")
        << QByteArray("[journal]\nhost=db.line3.local\n") << "host=";
    QTest::newRow("a port that is no number")
        << QByteArray("[journal]\ndriver=postgresql\nport=54x2\n") << "port=54x2";
    QTest::newRow("no time limit") << QByteArray("[journal]\ntimeout=0\n") << "timeout=0";
}

// A record that cannot be used stops writes and resets before anything is
// sent, with a line naming why, and nothing falls back to another record. A
// read gives no address out: it runs, and says it went unrecorded.
void tst_Provisioning::recordUnusable()
{
    QFETCH(QByteArray, section);
    QFETCH(QString, named);
    QFile sample(sourceDir() + QStringLiteral("/examples/config.ini"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    BenchRig rig(sample.readAll() + "\n" + section);
    QVERIFY(rig.ready());
    rig.unit().setMac(kMac);
    for (const char *button : {"pushButton_wrmac", "pushButton_deffac"}) {
        rig.click(button);
        QVERIFY2(rig.requestsSeen().isEmpty(), button);
        const QString last = resultLines(rig.window()).last();
        QVERIFY2(last.contains(named), qPrintable(last));
        QVERIFY2(last.endsWith(QStringLiteral("没有记录就不操作设备，未发送")), qPrintable(last));
    }
    QCOMPARE(field(rig, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:00"));
    QCOMPARE(rig.unit().factoryResets(), 0);

    const int before = resultLines(rig.window()).size();
    rig.click("pushButton_rdmac");
    QCOMPARE(rig.requestsSeen(), QStringList{asSeen(servicePacket(0x98))});
    QCOMPARE(readMacDigits(rig), QStringLiteral("0039289000ab"));
    const QStringList lines = trimmed(resultLines(rig.window()).mid(before));
    QCOMPARE(lines.value(0), kReadBanner);
    QVERIFY2(lines.value(1).contains(named)
                 && lines.value(1).endsWith(QStringLiteral("读MAC照常进行，本次不记入生产记录")),
             qPrintable(lines.value(1)));
    QCOMPARE(lines.mid(2), (QStringList{"serial_query成功", "收到报文：00 39 28 90 00 ab"}));
    QVERIFY(!QFileInfo::exists(JournalOptions::defaultSqlitePath()));
}

enum class RecordDamage { Emptied, Deleted, Replaced, PathMisspelt };
Q_DECLARE_METATYPE(RecordDamage)

void tst_Provisioning::recordLostOrReplaced_data()
{
    QTest::addColumn<RecordDamage>("damage");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("question");
    QTest::newRow("emptied to 0 bytes") << RecordDamage::Emptied << "是空的或已不存在"
                                        << "新建一份空的生产记录？";
    QTest::newRow("deleted") << RecordDamage::Deleted << "是空的或已不存在"
                             << "新建一份空的生产记录？";
    QTest::newRow("another record put in its place") << RecordDamage::Replaced << "中是另一份记录"
                                                     << "中已有的生产记录";
    QTest::newRow("config.ini names another file") << RecordDamage::PathMisspelt << "还没有建立"
                                                   << "新建一份空的生产记录？";
}

// The record emptied, deleted or swapped while the tool was closed: the
// address given before is not given again; writes are refused until
// 文件 → 新建生产记录… is answered Yes, its question naming what is lost.
void tst_Provisioning::recordLostOrReplaced()
{
    QFETCH(RecordDamage, damage);
    QFETCH(QString, refusal);
    QFETCH(QString, question);

    BenchRig rig;
    QVERIFY(rig.ready());
    lookUp(rig, QStringLiteral("PDU2411A0001"));
    rig.click("pushButton_wrmac");
    QCOMPARE(resultLines(rig.window()).last(), QStringLiteral("MAC读回校验通过"));
    const QString path = JournalOptions::defaultSqlitePath();
    QString knownId;
    {
        Journal journal(JournalOptions::fromConfig());
        Journal::Identity identity;
        QString error;
        QVERIFY2(journal.identity(&identity, &error), qPrintable(error));
        knownId = identity.storeId;
    }

    QVERIFY(rig.restartWindow([&] {
        for (const char *suffix : {"-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        switch (damage) {
        case RecordDamage::Emptied: {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            break;
        }
        case RecordDamage::Deleted:
            QVERIFY(QFile::remove(path));
            break;
        case RecordDamage::Replaced: {
            QVERIFY(QFile::remove(path));
            JournalOptions stranger = JournalOptions::fromConfig();
            stranger.benchSettings = QDir::current().filePath(QStringLiteral("stranger.ini"));
            Journal journal(stranger);
            QVERIFY(journal.begin(QLatin1String(kOpReadMac), 0, QString(), QString(), QString())
                        .error.isEmpty());
            break;
        }
        case RecordDamage::PathMisspelt: {
            QFile config(QStringLiteral("config.ini"));
            QVERIFY(config.open(QIODevice::Append));
            config.write("\n[journal]\npath=" + QFile::encodeName(path) + "x\n");
            break;
        }
        }
    }));
    if (QTest::currentTestFailed())
        return;

    // The next unit's label, and PDU2411A0001's address typed for it.
    rig.unit().setMac(PduUnit::factoryMac());
    lookUp(rig, QStringLiteral("PDU2411A0002"));
    field(rig, "lineEdit_wrmac")->setText(QStringLiteral("00:39:28:90:00:10"));
    rig.clearRequests();
    rig.click("pushButton_wrmac");
    QVERIFY(rig.requestsSeen().isEmpty());
    const QString last = resultLines(rig.window()).last();
    QVERIFY2(last.contains(refusal) && last.contains(QStringLiteral("新建生产记录")),
             qPrintable(last));

    {
        const ModalAnswerer no(QMessageBox::No);
        widget<QAction>(rig.window(), "actionNewRecord")->trigger();
        QCOMPARE(no.count(), 1);
        QCOMPARE(no.last.title, QStringLiteral("新建生产记录"));
        QVERIFY2(no.last.text.contains(question), qPrintable(no.last.text));
        QVERIFY2(no.last.text.contains(QStringLiteral("将失去")), qPrintable(no.last.text));
        if (damage != RecordDamage::PathMisspelt)
            QVERIFY2(no.last.text.contains(Journal::shortId(knownId)), qPrintable(no.last.text));
    }
    rig.click("pushButton_wrmac");
    QVERIFY(rig.requestsSeen().isEmpty());

    {
        const ModalAnswerer yes(QMessageBox::Yes);
        widget<QAction>(rig.window(), "actionNewRecord")->trigger();
        QCOMPARE(yes.count(), 1);
    }
    rig.click("pushButton_wrmac");
    QCOMPARE(resultLines(rig.window()).last(), QStringLiteral("MAC读回校验通过"));
    QCOMPARE(rig.unit().mac(), QByteArray::fromHex("003928900010"));
}

void tst_Provisioning::lookupLeavesNoWrongAddress_data()
{
    QTest::addColumn<QString>("sn");
    QTest::addColumn<QStringList>("lines"); // after the lookup

    QTest::newRow("serial number not in the table")
        << "PDU-UNKNOWN"
        << QStringList{"sn=PDU-UNKNOWN not find!!!", "mac.csv中没有该SN，已清空待写MAC地址"};
    const QString block = QStringLiteral("（本线地址段为 00:39:28:00:00:00–00:39:28:FF:FF:FF），"
                                         "已清空待写MAC地址，未采用");
    QTest::newRow("an address outside the line's block")
        << "PDU-FOREIGN"
        << QStringList{"idx=1 sn=PDU-FOREIGN=>[12:34:56:78:9A:BC]",
                       "SN PDU-FOREIGN 的MAC地址 12:34:56:78:9A:BC 不在本线的地址段内" + block};
    QTest::newRow("a multicast address")
        << "PDU-GROUP"
        << QStringList{"idx=2 sn=PDU-GROUP=>[01:39:28:90:00:10]",
                       "SN PDU-GROUP 的MAC地址 01:39:28:90:00:10 是组播地址（第一字节最低位为1）"
                           + block};
    QTest::newRow("no address at all")
        << "PDU-BROKEN"
        << QStringList{
               "idx=3 sn=PDU-BROKEN=>[00:39:28:90:00]",
               "SN PDU-BROKEN 的MAC地址 00:39:28:90:00 不是MAC地址，已清空待写MAC地址，未采用"};
}

// After a lookup that found no usable address, "mac设置" has nothing to
// write: not the last unit's address, not a reshaped one.
void tst_Provisioning::lookupLeavesNoWrongAddress()
{
    QFETCH(QString, sn);
    QFETCH(QStringList, lines);

    BenchRig fresh(QByteArray(), "PDU2411A0003,00:39:28:90:00:12\nPDU-FOREIGN,12:34:56:78:9A:BC\n"
                                 "PDU-GROUP,01:39:28:90:00:10\nPDU-BROKEN,00:39:28:90:00\n");
    QVERIFY(fresh.ready());
    lookUp(fresh, QStringLiteral("PDU2411A0003"));
    QCOMPARE(field(fresh, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:12"));
    const int before = resultLines(fresh.window()).size();
    lookUp(fresh, sn);
    QWidget().setFocus(); // leaving the field: the same lookup is not repeated
    emit field(fresh, "lineEdit_sn")->editingFinished();
    QCOMPARE(resultLines(fresh.window()).mid(before), lines);
    fresh.click("pushButton_wrmac");
    QVERIFY(fresh.requestsSeen().isEmpty());
    QCOMPARE(fresh.unit().mac(), PduUnit::factoryMac());
}

void tst_Provisioning::recordWindowFindsTheUnit_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("units"); // the SN column, top down

    const QString a = QStringLiteral("PDU2411A0001"); // 00:39:28:90:00:10, written first
    const QString b = QStringLiteral("PDU2411A0002"); // 00:39:28:90:00:11
    QTest::newRow("nothing typed: newest first") << "" << QStringList{b, a};
    QTest::newRow("the whole address") << "00:39:28:90:00:10" << QStringList{a};
    QTest::newRow("the address with dashes") << "00-39-28-90-00-11" << QStringList{b};
    QTest::newRow("its beginning, no separators, lower case") << "00392890001" << QStringList{b, a};
    QTest::newRow("its end, as read off a label") << "90:00:10" << QStringList{a};
    QTest::newRow("the serial number's beginning, any case") << "pdu2411a0002" << QStringList{b};
    QTest::newRow("no such unit") << "PDU9" << QStringList{};
}

// "Which unit got this address?" answered in the record window, the filter
// applied once typing rests.
void tst_Provisioning::recordWindowFindsTheUnit()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, units);

    BenchRig rig;
    QVERIFY(rig.ready());
    lookUp(rig, QStringLiteral("PDU2411A0001"));
    rig.click("pushButton_wrmac");
    rig.unit().setMac(PduUnit::factoryMac());
    lookUp(rig, QStringLiteral("PDU2411A0002"));
    rig.click("pushButton_wrmac");
    widget<QAction>(rig.window(), "actionRecordWindow")->trigger();
    auto *table = rig.window().findChild<QTableView *>(QStringLiteral("tableView_record"));
    QVERIFY(table && table->isVisible());
    const auto shownUnits = [table] {
        QStringList sns;
        for (int r = 0; r < table->model()->rowCount(); ++r)
            sns << table->model()->index(r, 3).data().toString();
        return sns;
    };
    QCOMPARE(shownUnits(),
             (QStringList{QStringLiteral("PDU2411A0002"), QStringLiteral("PDU2411A0001")}));

    auto *edit = rig.window().findChild<QLineEdit *>(QStringLiteral("lineEdit_recordFilter"));
    QTest::keyClicks(edit, filter);
    QTRY_COMPARE(shownUnits(), units);
}

// 文件 → 导出记录…: the file chosen in the dialog gets the record as CSV.
void tst_Provisioning::exportRecord()
{
    BenchRig rig;
    QVERIFY(rig.ready());
    lookUp(rig, QStringLiteral("PDU2411A0001"));
    rig.click("pushButton_wrmac");
    rig.click("pushButton_rdmac");
    const QString target = QDir::current().filePath(QStringLiteral("导出.csv"));

    // The dialog runs its own event loop; a timer answers it there.
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        // Typed into the name field, as the engineer would.
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(target);
        static_cast<QDialog *>(dialog)->accept(); // public in QDialog
    });
    answer.start();
    widget<QAction>(rig.window(), "actionExportRecord")->trigger();

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(csv.mid(3)).trimmed().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3); // header, the read, the write
    QVERIFY2(lines.at(1).contains(QStringLiteral(",PDU2411A0001,读MAC,00:39:28:90:00:10,成功,")),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(
                 QStringLiteral(",PDU2411A0001,写MAC,00:39:28:90:00:10,已写入，读回一致,")),
             qPrintable(lines.at(2)));
}

QTEST_MAIN(tst_Provisioning)
#include "tst_provisioning.moc"
