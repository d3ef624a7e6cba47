#pragma once

// What the line has carried since the port opened or the counters were
// cleared: the requests of the device operations, how each was answered, and
// how long the unit took to answer. A value without a window, so the window
// and a command-line front end count and word it alike.

#include "protocol/reply.h"

#include <QString>
#include <QtGlobal>

// How long a character takes on the line: a start bit, the data bits, a
// parity bit when there is one, and the stop bits (stopHalves counts halves
// of a bit: 2 for one stop bit, 3 for one and a half, 4 for two).
// 0 for a baud rate of 0 or less.
qint64 characterNs(qint32 baudRate, int dataBits, bool parity, int stopHalves);

struct LineStats
{
    int requests = 0;   // requests that went out
    int answers = 0;    // good replies
    int noReply = 0;    // nothing, or too little, came
    int exceptions = 0; // exception replies
    int invalid = 0;    // CRC, length, station or function wrong
    int echoFaults = 0; // the line's echo of the request differed or was cut short
    // Response times of the complete replies (good and exception), measured
    // from the moment the request's last byte left the line to the arrival of
    // the reply's last byte.
    int timed = 0;
    qint64 minResponseNs = 0;
    qint64 maxResponseNs = 0;
    qint64 totalResponseNs = 0;

    // One exchange: its verdict and, for a reply that came, its response
    // time (negative when there is none). An exchange abandoned before its
    // request went out is not a request.
    void count(const ReplyVerdict &verdict, qint64 responseNs = -1);
    void clear() { *this = LineStats(); }
    qint64 meanResponseNs() const { return timed > 0 ? totalResponseNs / timed : 0; }

    // For the status bar: "请求 12，成功 10，失败 2，平均响应 5.62 ms".
    QString label() const;
    // Every counter and the minimum, mean and maximum response time, one a line.
    QString toolTip() const;
};

// "5.62 ms": a response time as the statistics and the session record show it.
QString responseTimeText(qint64 ns);
