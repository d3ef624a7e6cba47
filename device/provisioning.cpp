// MAC address read and write, and factory defaults, by service packets.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "device/values.h"
#include "protocol/hex.h"
#include "protocol/packet.h"

#include <cstring>

namespace {

constexpr int kReplySize = 256;                 // as much as reception gathers
constexpr int kParsedSize = kReplySize / 2 + 2; // "~", the decoded bytes, carriage return
constexpr int kParsedHeader = 7;                // "~", VER, ADR, CID1, RTN, LENGTH
constexpr int kParsedFrame = 10;                // header, CHKSUM, carriage return
constexpr int kReturnCodeIndex = 4;
constexpr int kMacStep = 1;
constexpr int kMacBytes = 6;

} // namespace

void MainWindow::on_pushButton_rdmac_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    // Emptied first: whatever the last unit answered must not pass for this one's.
    ui->lineEdit_rdmac->clear();
    get_dz_wr_pak(kCmdReadMac, nullptr, 0);
    appendResult(QStringLiteral("---------读取mac-------------"));
    unsigned char reply[kReplySize];
    int n = 0;
    serial_query(send_buf, send_len, reply, &n);
    const QByteArray mac = showServiceReply(reply, n);
    ui->lineEdit_rdmac->setText(QString::fromLatin1(mac.toHex()));
}

void MainWindow::on_pushButton_deffac_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    get_dz_wr_pak(kCmdFactoryDefaults, nullptr, 0);
    appendResult(QStringLiteral("---------恢复出厂默认-------------"));
    unsigned char reply[kReplySize];
    int n = 0;
    serial_query(send_buf, send_len, reply, &n);
    showServiceReply(reply, n);
}

void MainWindow::on_pushButton_wrmac_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
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
        appendResult(QStringLiteral("本段MAC地址已用完，该地址已写入过，请输入新的MAC地址，未发送"));
        return;
    }
    m_macBlockEnd = step.blockUsedUp ? address : QString();
    if (step.blockUsedUp)
        appendResult(QStringLiteral("本段MAC地址已用完，请输入新的MAC地址"));
    else
        appendResult(QStringLiteral("下个mac=") + step.nextGroups.join(QLatin1Char(':')));
    // The field moves on before the packet goes out: a unit that takes the
    // address but never answers has it all the same, and the next unit on
    // the bench must not be given it again.
    ui->lineEdit_wrmac->setText(address);

    get_dz_wr_pak(kCmdWriteMac, step.bytes, kMacBytes);
    unsigned char reply[kReplySize];
    int n = 0;
    serial_query(send_buf, send_len, reply, &n);
    showServiceReply(reply, n);
}

void MainWindow::serial_query(const unsigned char *data, int data_len, unsigned char *reply,
                              int *reply_len)
{
    exchangeRequest(data, data_len, ReplyKind::service());
    if (recvLen <= 5) {
        appendResult(QStringLiteral("serial_query失败"));
        return;
    }
    *reply_len = recvLen;
    std::memcpy(reply, recvBuf, size_t(recvLen));
    appendResult(QStringLiteral("serial_query成功"));
}

// Shows the reply's INFO bytes and returns them when the reply can be
// trusted: a whole packet, its checksum right, and a zero return code.
// Anything else is said in the result window and returns nothing.
QByteArray MainWindow::showServiceReply(const unsigned char *reply, int n)
{
    if (n <= 5)
        return {}; // serial_query has said so
    unsigned char parsed[kParsedSize];
    int m = 0;
    const bool checksumOk = packet_parse(reply, n, parsed, kParsedSize, &m) == 1;
    if (m <= 0) {
        appendResult(QStringLiteral("应答中没有服务报文"));
        return {};
    }
    QByteArray info;
    if (m > kParsedFrame)
        info = QByteArray(reinterpret_cast<const char *>(parsed + kParsedHeader), m - kParsedFrame);
    appendResult(
        QStringLiteral("收到报文：")
        + hexReplyText(reinterpret_cast<const unsigned char *>(info.constData()), info.size()));
    if (!checksumOk) {
        appendResult(QStringLiteral("应答报文校验和错误，结果无效"));
        return {};
    }
    if (m < kParsedFrame) {
        appendResult(QStringLiteral("应答报文不完整，结果无效"));
        return {};
    }
    const quint8 returnCode = parsed[kReturnCodeIndex];
    if (returnCode != 0) {
        appendResult(QStringLiteral("设备返回错误：") + returnCodeText(returnCode));
        return {};
    }
    return info;
}
