// Counting the requests of the device operations and the unit's response times.

#include "serial/linestats.h"

#include <QStringList>

qint64 characterNs(qint32 baudRate, int dataBits, bool parity, int stopHalves)
{
    if (baudRate <= 0)
        return 0;
    // In halves of a bit, so that one and a half stop bits come out exact.
    const qint64 halves = 2 * (1 + dataBits + (parity ? 1 : 0)) + stopHalves;
    return halves * 1000000000LL / (2LL * baudRate);
}

void LineStats::count(const ReplyVerdict &verdict, qint64 responseNs)
{
    if (!verdict.sent)
        return;
    ++requests;
    bool complete = false;
    switch (verdict.outcome) {
    case ReplyVerdict::Answer:
        ++answers;
        complete = true;
        break;
    case ReplyVerdict::Exception:
        ++exceptions;
        complete = true;
        break;
    case ReplyVerdict::NoReply:
        ++noReply;
        break;
    case ReplyVerdict::Invalid:
        if (verdict.echoFault)
            ++echoFaults;
        else
            ++invalid;
        break;
    case ReplyVerdict::Abandoned:
        break; // went out, but the operation ended before its reply could come
    }
    if (!complete || responseNs < 0)
        return;
    if (timed == 0 || responseNs < minResponseNs)
        minResponseNs = responseNs;
    if (timed == 0 || responseNs > maxResponseNs)
        maxResponseNs = responseNs;
    totalResponseNs += responseNs;
    ++timed;
}

QString responseTimeText(qint64 ns)
{
    // Hundredths of a millisecond, rounded half up, in integers: at 115200
    // baud a character lasts 0.09 ms, so a hundredth is the finest that means anything.
    const qint64 hundredths = (qMax<qint64>(0, ns) + 5000) / 10000;
    return QStringLiteral("%1.%2 ms")
        .arg(hundredths / 100)
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

QString LineStats::label() const
{
    QString text = QStringLiteral("请求 %1，成功 %2，失败 %3")
                       .arg(requests)
                       .arg(answers)
                       .arg(noReply + exceptions + invalid + echoFaults);
    if (timed > 0)
        text += QStringLiteral("，平均响应 ") + responseTimeText(meanResponseNs());
    return text;
}

QString LineStats::toolTip() const
{
    QStringList lines;
    lines << QStringLiteral("线路统计（自打开串口或清除计数起）")
          << QStringLiteral("请求：%1").arg(requests) << QStringLiteral("成功应答：%1").arg(answers)
          << QStringLiteral("无应答：%1").arg(noReply)
          << QStringLiteral("异常应答：%1").arg(exceptions)
          << QStringLiteral("校验或格式错误：%1").arg(invalid)
          << QStringLiteral("回显不符：%1").arg(echoFaults);
    if (timed > 0)
        lines << QStringLiteral("响应时间（%1次）：最短 %2，平均 %3，最长 %4")
                     .arg(timed)
                     .arg(responseTimeText(minResponseNs), responseTimeText(meanResponseNs()),
                          responseTimeText(maxResponseNs));
    else
        lines << QStringLiteral("响应时间：暂无");
    lines << QStringLiteral("（响应时间从请求最后一个字节发出算到应答完整收到）");
    return lines.join(QLatin1Char('\n'));
}
