// Progress, stop and summary texts of the runs over many requests.

#include "device/runreport.h"

void RunTally::add(const ReplyVerdict &verdict)
{
    switch (verdict.outcome) {
    case ReplyVerdict::Answer:
        ++answered;
        break;
    case ReplyVerdict::NoReply:
        ++noReply;
        break;
    case ReplyVerdict::Exception:
        ++exceptions;
        break;
    case ReplyVerdict::Invalid:
        ++invalid;
        break;
    case ReplyVerdict::Abandoned:
        break;
    }
}

QString summaryLine(const RunTally &tally, qint64 elapsedMs)
{
    // Whole tenths by integer arithmetic: a binary double rounds 0.25 s down.
    const qint64 tenths = (qMax<qint64>(0, elapsedMs) + 50) / 100;
    const QString seconds = QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
    return QStringLiteral("合计%1项：成功%2，无应答%3，异常应答%4，校验错误%5，用时%6秒")
        .arg(tally.done())
        .arg(tally.answered)
        .arg(tally.noReply)
        .arg(tally.exceptions)
        .arg(tally.invalid)
        .arg(seconds);
}

QString stoppedLine(int done, int total)
{
    return QStringLiteral("已停止：完成 %1/%2").arg(done).arg(total);
}

QString pollStepText(int step, int total, const QString &entryName)
{
    return QStringLiteral("读取 %1/%2：%3").arg(step).arg(total).arg(entryName);
}

QString moduleStepText(int step, int total)
{
    return QStringLiteral("模块 %1/%2").arg(step).arg(total);
}
