// MAC address read and write, and factory defaults, by service packets; each
// on the provisioning record before its result is shown.

#include "device/macprovisioning.h"

#include "device/macaddress.h"
#include "protocol/hex.h"
#include "protocol/packet.h"

namespace {

constexpr int kParsedSize = 256 / 2 + 2; // "~", the decoded bytes, carriage return
constexpr int kParsedHeader = 7;         // "~", VER, ADR, CID1, RTN, LENGTH
constexpr int kParsedFrame = 10;         // header, CHKSUM, carriage return
constexpr int kReturnCodeIndex = 4;
constexpr int kNoReplyLength = 5; // five bytes or fewer are no reply
constexpr int kMacStep = 1;
constexpr int kMacBytes = 6;

const QString kRecordLost = QStringLiteral("；没有记录就不操作设备，未发送");

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

QByteArray macBytes(quint64 address)
{
    QByteArray bytes(kMacBytes, '\0');
    for (int i = 0; i < kMacBytes; ++i)
        bytes[i] = char((address >> (8 * (kMacBytes - 1 - i))) & 0xFF);
    return bytes;
}

QString lastLine(const QVector<QPair<QString, Tone>> &lines)
{
    return lines.isEmpty() ? QString() : lines.last().first;
}

} // namespace

MacProvisioning::MacProvisioning(DeviceLink &link, OperationSink &sink, Journal &journal)
    : m_link(link)
    , m_sink(sink)
    , m_journal(journal)
{}

void MacProvisioning::say(const Lines &lines)
{
    for (const auto &line : lines)
        m_sink.resultLine(line.first, line.second);
}

Exchange MacProvisioning::serial_query(quint8 command, const QByteArray &info, Lines &lines)
{
    get_dz_wr_pak(command, reinterpret_cast<const unsigned char *>(info.constData()),
                  unsigned(info.size()));
    const Exchange done = m_link.exchange(
        QByteArray(reinterpret_cast<const char *>(send_buf), send_len), ReplyKind::service());
    // An exchange cut short has no reply to speak of; the operation's end says why.
    if (done.verdict.outcome == ReplyVerdict::Abandoned)
        return done;
    if (done.reply.size() <= kNoReplyLength)
        lines.append({QStringLiteral("serial_query失败"), Tone::Bad});
    else
        lines.append({QStringLiteral("serial_query成功"), Tone::Plain});
    return done;
}

ServiceReply MacProvisioning::showServiceReply(const QByteArray &reply, Lines &lines)
{
    ServiceReply answer;
    if (reply.size() <= kNoReplyLength)
        return answer; // serial_query has said so
    unsigned char parsed[kParsedSize];
    int m = 0;
    const bool checksumOk = packet_parse(reinterpret_cast<const unsigned char *>(reply.constData()),
                                         reply.size(), parsed, kParsedSize, &m)
                            == 1;
    if (m <= 0) {
        lines.append({QStringLiteral("应答中没有服务报文"), Tone::Bad});
        answer.status = ServiceReply::NoPacket;
        return answer;
    }
    QByteArray info;
    if (m > kParsedFrame)
        info = QByteArray(reinterpret_cast<const char *>(parsed + kParsedHeader), m - kParsedFrame);
    const QString shown
        = QStringLiteral("收到报文：")
          + hexReplyText(reinterpret_cast<const unsigned char *>(info.constData()), info.size());
    if (!checksumOk) {
        lines.append({shown, Tone::Plain});
        lines.append({QStringLiteral("应答报文校验和错误，结果无效"), Tone::Bad});
        answer.status = ServiceReply::BadChecksum;
        return answer;
    }
    if (m < kParsedFrame) {
        lines.append({shown, Tone::Plain});
        lines.append({QStringLiteral("应答报文不完整，结果无效"), Tone::Bad});
        answer.status = ServiceReply::Incomplete;
        return answer;
    }
    answer.returnCode = parsed[kReturnCodeIndex];
    if (answer.returnCode != 0) {
        lines.append({shown, Tone::Plain});
        lines.append(
            {QStringLiteral("设备返回错误：") + returnCodeText(answer.returnCode), Tone::Bad});
        answer.status = ServiceReply::DeviceError;
        return answer;
    }
    lines.append({shown, Tone::Good});
    answer.status = ServiceReply::Ok;
    answer.info = info;
    return answer;
}

bool MacProvisioning::queryService(quint8 command, const QByteArray &info, Lines &lines,
                                   ServiceReply *answer, bool *sent)
{
    const Exchange done = serial_query(command, info, lines);
    *sent = done.verdict.sent;
    if (done.verdict.outcome == ReplyVerdict::Abandoned)
        return false;
    *answer = showServiceReply(done.reply, lines);
    return true;
}

void MacProvisioning::finishRecord(qint64 id, const char *result, const QString &detail,
                                   const QString &mac, Lines &lines)
{
    QString error;
    if (!m_journal.finish(id, QLatin1String(result), detail, mac, &error))
        lines.append({error + QStringLiteral("；此次操作的结果已暂存在本机，生产记录可写入时补记"),
                      Tone::Bad});
    say(lines);
}

QString MacProvisioning::readMac(const QString &serialNumber)
{
    // Emptied first: whatever the last unit answered must not pass for this one's.
    m_sink.fieldValue(Field::ReadMac, QString());
    m_sink.resultLine(QStringLiteral("---------读取mac-------------"));
    const Journal::Start start
        = m_journal.begin(QLatin1String(kOpReadMac), m_link.now().toMSecsSinceEpoch(),
                          m_link.portName(), serialNumber, QString());
    m_recordUnwritable = !start.id;
    for (const QString &note : start.notes)
        m_sink.resultLine(note);
    // A read gives no address out: it goes on unrecorded, and says so first.
    if (!start.id)
        m_sink.resultLine(start.error + QStringLiteral("；读MAC照常进行，本次不记入生产记录"),
                          Tone::Bad);
    Lines lines;
    ServiceReply answer;
    bool sent = false;
    if (!queryService(kCmdReadMac, QByteArray(), lines, &answer, &sent)) {
        if (start.id)
            finishRecord(start.id, sent ? kResultAborted : kResultNotSent,
                         resultText(QLatin1String(sent ? kResultAborted : kResultNotSent)),
                         QString(), lines);
        else
            say(lines);
        return QString();
    }
    const bool gotMac = answer.status == ServiceReply::Ok && answer.info.size() == kMacBytes;
    const QString mac
        = gotMac ? macText(reinterpret_cast<const unsigned char *>(answer.info.constData()))
                 : QString();
    if (start.id)
        finishRecord(start.id, resultOf(answer.status), lastLine(lines), mac, lines);
    else
        say(lines);
    m_sink.fieldValue(Field::ReadMac, QString::fromLatin1(answer.info.toHex()));
    return mac;
}

bool MacProvisioning::factoryReset(const QString &serialNumber)
{
    m_sink.resultLine(QStringLiteral("---------恢复出厂默认-------------"));
    const Journal::Start start
        = m_journal.begin(QLatin1String(kOpFactoryReset), m_link.now().toMSecsSinceEpoch(),
                          m_link.portName(), serialNumber, QString());
    m_recordUnwritable = !start.id;
    for (const QString &note : start.notes)
        m_sink.resultLine(note);
    if (!start.id) {
        m_sink.resultLine(start.error + kRecordLost, Tone::Bad);
        return false;
    }
    Lines lines;
    ServiceReply answer;
    bool sent = false;
    if (!queryService(kCmdFactoryDefaults, QByteArray(), lines, &answer, &sent)) {
        const char *result = sent ? kResultAborted : kResultNotSent;
        finishRecord(start.id, result, resultText(QLatin1String(result)), QString(), lines);
        return false;
    }
    finishRecord(start.id, resultOf(answer.status), lastLine(lines), QString(), lines);
    return answer.status == ServiceReply::Ok;
}

MacWriteOutcome MacProvisioning::writeMac(const QString &typed, const QString &serialNumber)
{
    MacWriteOutcome outcome;
    m_recordUnwritable = false;
    const auto refuse = [&](const QString &line) {
        m_sink.resultLine(line, Tone::Bad);
        outcome.status = MacWriteOutcome::Refused;
        outcome.why = line;
        return outcome;
    };

    m_sink.resultLine(QStringLiteral("---------设置mac-------------"));
    quint64 address = 0;
    const bool understood = parseMac(typed, &address);
    m_sink.resultLine(
        QStringLiteral("设置mac=")
        + (understood ? groupedMacText(typed) : macGroups(typed).join(QLatin1Char(':'))));
    m_sink.resultLine(QStringLiteral("增加值=%1").arg(kMacStep));
    if (!understood)
        return refuse(QStringLiteral("MAC地址每组须为两位十六进制数，未发送"));
    outcome.address = macAddressText(address);

    // Whether the address may reach a unit at all, before the record is asked.
    QString problem;
    const MacBlock block = macBlockFromConfig(&problem);
    if (!problem.isEmpty())
        return refuse(problem + QStringLiteral("，不写入MAC地址"));
    const MacRefusal refusal = checkMacForUnit(address, block);
    if (refusal != MacRefusal::None)
        return refuse(macRefusalText(refusal, address, block));
    // The block's last address has no next one: the field stays on it, and
    // the record refuses it to any other unit.
    const bool blockUsedUp = address >= block.last;
    const QString next = blockUsedUp ? QString() : nextMacText(typed, address + kMacStep);

    // The record claims the address for this unit before anything is sent:
    // an address that another unit may hold is never sent again, and a unit
    // that has a verified address gets no other.
    const Journal::Start start
        = m_journal.begin(QLatin1String(kOpWriteMac), m_link.now().toMSecsSinceEpoch(),
                          m_link.portName(), serialNumber, outcome.address);
    m_recordUnwritable = !start.id;
    for (const QString &note : start.notes)
        m_sink.resultLine(note);
    if (!start.id)
        return refuse(start.error + kRecordLost);
    if (start.taken)
        return refuse(start.refusal);

    if (blockUsedUp)
        m_sink.resultLine(QStringLiteral("本段MAC地址已用完，请输入新的MAC地址"));
    else
        m_sink.resultLine(QStringLiteral("下个mac=") + next);

    Lines lines;
    ServiceReply answer;
    bool sent = false;
    const QByteArray bytes = macBytes(address);
    const auto aborted = [&](bool wentOut) {
        const char *result = wentOut ? kResultAborted : kResultNotSent;
        finishRecord(start.id, result, resultText(QLatin1String(result)), QString(), lines);
        outcome.status = MacWriteOutcome::Aborted;
        outcome.why = resultText(QLatin1String(result));
        return outcome;
    };
    if (!queryService(kCmdWriteMac, bytes, lines, &answer, &sent))
        return aborted(sent);
    if (answer.status != ServiceReply::Ok) {
        finishRecord(start.id, resultOf(answer.status), lastLine(lines), QString(), lines);
        outcome.status = MacWriteOutcome::Failed;
        outcome.why = lastLine(lines);
        return outcome;
    }
    // An answer only says the packet arrived; the unit's own reading of its
    // address is what proves the write.
    ServiceReply readBack;
    if (!queryService(kCmdReadMac, QByteArray(), lines, &readBack, &sent))
        return aborted(true);
    if (readBack.status == ServiceReply::Ok && readBack.info == bytes) {
        lines.append({QStringLiteral("MAC读回校验通过"), Tone::Good});
        finishRecord(start.id, kResultVerified, lastLine(lines), QString(), lines);
        outcome.status = MacWriteOutcome::Verified;
        outcome.next = next;
        // Only now: after any failure the field keeps the address, so that a
        // retry writes the same one to the same unit.
        if (!blockUsedUp)
            m_sink.fieldValue(Field::WriteMac, next);
        return outcome;
    }
    const QString seen = readBack.status == ServiceReply::Ok
                             ? QString::fromLatin1(readBack.info.toHex(':'))
                             : QStringLiteral("无应答");
    lines.append({QStringLiteral("MAC读回校验失败：读回 %1").arg(seen), Tone::Bad});
    finishRecord(start.id, kResultReadBackFailed, lastLine(lines), QString(), lines);
    outcome.status = MacWriteOutcome::Failed;
    outcome.why = lastLine(lines);
    return outcome;
}
