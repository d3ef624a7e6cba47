// MAC address read and write, and factory defaults, by service packets; each
// on the provisioning record before its result is shown.

#include "app/mainwindow.h"
#include "device/journal.h"
#include "device/values.h"
#include "protocol/hex.h"
#include "protocol/packet.h"
#include "ui_mainwindow.h"

#include <cstring>

namespace {

constexpr int kReplySize = 256;                 // as much as reception gathers
constexpr int kParsedSize = kReplySize / 2 + 2; // "~", the decoded bytes, carriage return
constexpr int kParsedHeader = 7;                // "~", VER, ADR, CID1, RTN, LENGTH
constexpr int kParsedFrame = 10;                // header, CHKSUM, carriage return
constexpr int kReturnCodeIndex = 4;
constexpr int kMacStep = 1;
constexpr int kMacBytes = 6;

// What the record keeps of a reply that was not sound.
const char *resultOf(ServiceReply::Status status)
{
    switch (status) {
    case ServiceReply::NoReply:
        return kResultNoReply;
    case ServiceReply::DeviceError:
        return kResultDeviceError;
    case ServiceReply::Ok:
        return kResultOk;
    case ServiceReply::NoPacket:
    case ServiceReply::BadChecksum:
    case ServiceReply::Incomplete:
        break;
    }
    return kResultBadReply;
}

// The address bytes as the read field and the read-back line show them.
QString lowerMacText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(':'));
}

} // namespace

void MainWindow::on_pushButton_rdmac_clicked()
{
    runServiceCommand(kCmdReadMac);
}

void MainWindow::on_pushButton_deffac_clicked()
{
    runServiceCommand(kCmdFactoryDefaults);
}

void MainWindow::on_pushButton_wrmac_clicked()
{
    runServiceCommand(kCmdWriteMac);
}

void MainWindow::runServiceCommand(quint8 command)
{
    const Operation operation(this);
    if (!operation)
        return;
    switch (command) {
    case kCmdReadMac:
        readMac();
        break;
    case kCmdFactoryDefaults:
        restoreFactoryDefaults();
        break;
    case kCmdWriteMac:
        writeMac();
        break;
    }
}

void MainWindow::readMac()
{
    // Emptied first: whatever the last unit answered must not pass for this one's.
    ui->lineEdit_rdmac->clear();
    appendResult(QStringLiteral("---------读取mac-------------"));
    const Journal::Start start = startRecord(kOpReadMac, QString());
    if (!start.id)
        return;
    QStringList lines;
    ServiceReply answer;
    if (queryService(start.id, kCmdReadMac, nullptr, 0, lines, &answer).outcome
        == ReplyVerdict::Abandoned)
        return;
    const bool gotMac = answer.status == ServiceReply::Ok && answer.info.size() == kMacBytes;
    const QString mac
        = gotMac ? macText(reinterpret_cast<const unsigned char *>(answer.info.constData()))
                 : QString();
    finishRecord(start.id, resultOf(answer.status), lines.value(lines.size() - 1), mac, lines);
    ui->lineEdit_rdmac->setText(QString::fromLatin1(answer.info.toHex()));
}

void MainWindow::restoreFactoryDefaults()
{
    appendResult(QStringLiteral("---------恢复出厂默认-------------"));
    const Journal::Start start = startRecord(kOpFactoryReset, QString());
    if (!start.id)
        return;
    QStringList lines;
    ServiceReply answer;
    if (queryService(start.id, kCmdFactoryDefaults, nullptr, 0, lines, &answer).outcome
        == ReplyVerdict::Abandoned)
        return;
    finishRecord(start.id, resultOf(answer.status), lines.value(lines.size() - 1), QString(),
                 lines);
}

void MainWindow::writeMac()
{
    appendResult(QStringLiteral("---------设置mac-------------"));
    const QString typed = ui->lineEdit_wrmac->text();
    appendResult(QStringLiteral("设置mac=") + macGroups(typed).join(QLatin1Char(':')));
    appendResult(QStringLiteral("增加值=%1").arg(kMacStep));

    const MacStep step = macAdvance(typed, kMacStep);
    if (!step.valid) {
        appendResult(QStringLiteral("MAC地址每组须为两位十六进制数，未发送"));
        return;
    }
    // The field stays on the block's last address once it is written; a
    // second press must not give that address to another unit.
    const QString address = step.nextGroups.join(QString());
    if (step.blockUsedUp && address.compare(m_macBlockEnd, Qt::CaseInsensitive) == 0) {
        appendResult(
            QStringLiteral("本段MAC地址已用完，该地址已写入过，请输入新的MAC地址，未发送"));
        return;
    }
    // The record claims the address for this unit before anything is sent:
    // an address that another unit may hold is never sent again.
    const Journal::Start start = startRecord(kOpWriteMac, macText(step.bytes));
    if (!start.id || start.taken)
        return;

    const QString blockEndBefore = m_macBlockEnd;
    m_macBlockEnd = step.blockUsedUp ? address : QString();
    if (step.blockUsedUp)
        appendResult(QStringLiteral("本段MAC地址已用完，请输入新的MAC地址"));
    else
        appendResult(QStringLiteral("下个mac=") + step.nextGroups.join(QLatin1Char(':')));
    // The field moves on before the packet goes out: a unit that takes the
    // address but never answers has it all the same, and the next unit on
    // the bench must not be given it again.
    ui->lineEdit_wrmac->setText(address);

    QStringList lines;
    ServiceReply answer;
    const ReplyVerdict verdict
        = queryService(start.id, kCmdWriteMac, step.bytes, kMacBytes, lines, &answer);
    if (!verdict.sent) {
        // Nothing went out (the port was not opened): the field and the
        // block stay where they were, for this unit.
        ui->lineEdit_wrmac->setText(typed);
        m_macBlockEnd = blockEndBefore;
    }
    if (verdict.outcome == ReplyVerdict::Abandoned)
        return;
    if (answer.status != ServiceReply::Ok) {
        finishRecord(start.id, resultOf(answer.status), lines.value(lines.size() - 1), QString(),
                     lines);
        return;
    }
    // An answer only says the packet arrived; the unit's own reading of its
    // address is what proves the write.
    ServiceReply readBack;
    if (queryService(start.id, kCmdReadMac, nullptr, 0, lines, &readBack).outcome
        == ReplyVerdict::Abandoned)
        return;
    const QByteArray sent(reinterpret_cast<const char *>(step.bytes), kMacBytes);
    if (readBack.status == ServiceReply::Ok && readBack.info == sent) {
        lines << QStringLiteral("MAC读回校验通过");
        finishRecord(start.id, kResultVerified, lines.last(), QString(), lines);
        return;
    }
    const QString seen = readBack.status == ServiceReply::Ok ? lowerMacText(readBack.info)
                                                             : QStringLiteral("无应答");
    lines << QStringLiteral("MAC读回校验失败：读回 %1").arg(seen);
    finishRecord(start.id, kResultReadBackFailed, lines.last(), QString(), lines);
}

// One service packet out and its reply judged into answer, the lines held in
// lines; an exchange cut short is put on record here and leaves answer alone.
ReplyVerdict MainWindow::queryService(qint64 recordId, quint8 command, const unsigned char *info,
                                      int infoLength, QStringList &lines, ServiceReply *answer)
{
    get_dz_wr_pak(command, info, unsigned(infoLength));
    unsigned char reply[kReplySize];
    int n = 0;
    const ReplyVerdict verdict = serial_query(send_buf, send_len, reply, &n, &lines);
    if (!finishAbandoned(recordId, verdict, lines))
        *answer = showServiceReply(reply, n, &lines);
    return verdict;
}

Journal::Start MainWindow::startRecord(const char *operation, const QString &mac)
{
    Journal &record = journal();
    const Journal::Start start
        = record.begin(QLatin1String(operation), m_clock().toMSecsSinceEpoch(),
                       serialPort->portName(), recordSerialNumber(), mac);
    if (!start.error.isEmpty())
        appendResult(start.error + QStringLiteral("；没有记录就不操作设备，未发送"));
    else if (start.taken)
        appendResult(macTakenText(mac, start.takenMs, start.takenSn));
    return start;
}

void MainWindow::finishRecord(qint64 id, const char *result, const QString &detail,
                              const QString &mac, QStringList &lines)
{
    QString error;
    if (!journal().finish(id, QLatin1String(result), detail, mac, &error))
        lines << error + QStringLiteral("；记录中此次操作的结果未知");
    for (const QString &line : lines)
        appendResult(line);
}

// An operation that the port, the engineer or the window ended in the middle
// goes on record as such; the line that says why follows when it ends.
bool MainWindow::finishAbandoned(qint64 id, const ReplyVerdict &verdict, QStringList &lines)
{
    if (verdict.outcome != ReplyVerdict::Abandoned)
        return false;
    const QString why = m_operation == OperationState::Cancelled ? QStringLiteral("操作已取消")
                        : m_operation == OperationState::WindowClosing
                            ? QStringLiteral("窗口关闭，操作中止")
                            : QStringLiteral("串口已断开，操作中止");
    finishRecord(id, verdict.sent ? kResultAborted : kResultNotSent, why, QString(), lines);
    return true;
}

QString MainWindow::recordSerialNumber() const
{
    // The serial number counts only while the field still holds what the
    // last lookup found: a number typed but not found is not a unit's.
    return ui->lineEdit_sn->text() == m_matchedSn ? m_matchedSn : QString();
}

ReplyVerdict MainWindow::serial_query(const unsigned char *data, int data_len, unsigned char *reply,
                                      int *reply_len, QStringList *lines)
{
    const ReplyVerdict verdict = exchangeRequest(data, data_len, ReplyKind::service());
    // An exchange cut short has no reply to speak of; the operation's end says why.
    if (verdict.outcome == ReplyVerdict::Abandoned)
        return verdict;
    const auto say = [this, lines](const QString &line) {
        if (lines)
            *lines << line;
        else
            appendResult(line);
    };
    if (recvLen <= 5) {
        say(QStringLiteral("serial_query失败"));
        return verdict;
    }
    *reply_len = recvLen;
    std::memcpy(reply, recvBuf, size_t(recvLen));
    say(QStringLiteral("serial_query成功"));
    return verdict;
}

// Shows the reply's INFO bytes and judges them: only a whole packet, its
// checksum right, and a zero return code can be trusted. Anything else is said
// in lines.
ServiceReply MainWindow::showServiceReply(const unsigned char *reply, int n, QStringList *lines)
{
    ServiceReply answer;
    if (n <= 5)
        return answer; // serial_query has said so
    unsigned char parsed[kParsedSize];
    int m = 0;
    const bool checksumOk = packet_parse(reply, n, parsed, kParsedSize, &m) == 1;
    if (m <= 0) {
        *lines << QStringLiteral("应答中没有服务报文");
        answer.status = ServiceReply::NoPacket;
        return answer;
    }
    QByteArray info;
    if (m > kParsedFrame)
        info = QByteArray(reinterpret_cast<const char *>(parsed + kParsedHeader), m - kParsedFrame);
    *lines << QStringLiteral("收到报文：")
                  + hexReplyText(reinterpret_cast<const unsigned char *>(info.constData()),
                                 info.size());
    if (!checksumOk) {
        *lines << QStringLiteral("应答报文校验和错误，结果无效");
        answer.status = ServiceReply::BadChecksum;
        return answer;
    }
    if (m < kParsedFrame) {
        *lines << QStringLiteral("应答报文不完整，结果无效");
        answer.status = ServiceReply::Incomplete;
        return answer;
    }
    answer.returnCode = parsed[kReturnCodeIndex];
    if (answer.returnCode != 0) {
        *lines << QStringLiteral("设备返回错误：") + returnCodeText(answer.returnCode);
        answer.status = ServiceReply::DeviceError;
        return answer;
    }
    answer.status = ServiceReply::Ok;
    answer.info = info;
    return answer;
}
