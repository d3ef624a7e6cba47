#pragma once

// What a poll or an all-modules run tells the engineer as it goes and when it
// ends: the step it is on, the line of a stopped run, and the tally of outcomes.

#include "protocol/reply.h"

#include <QString>

struct RunTally
{
    int answered = 0;
    int noReply = 0;
    int exceptions = 0;
    int invalid = 0;

    // An abandoned exchange is not counted: the run ended before its reply.
    void add(const ReplyVerdict &verdict);
    int done() const { return answered + noReply + exceptions + invalid; }
};

// "合计12项：成功10，无应答1，异常应答1，校验错误0，用时3.4秒", the time in
// tenths of a second, rounded half up.
QString summaryLine(const RunTally &tally, qint64 elapsedMs);
// "已停止：完成 3/12"
QString stoppedLine(int done, int total);
// "读取 3/12：低压脱离值"
QString pollStepText(int step, int total, const QString &entryName);
// "模块 4/7"
QString moduleStepText(int step, int total);
