#pragma once

// What the benchmarks share: the median of their runs, the processor time
// they use, and pdu-sim run as a program of its own with line timing on.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <ctime>
#include <vector>

inline double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// pdu-sim on a pseudo-terminal of its own, stopped with the object.
struct PduSimProcess
{
    QProcess process;
    QString port;

    bool start(const QString &program, int baud, int turnaroundMs, const QStringList &extra = {})
    {
        process.start(program, QStringList{QStringLiteral("--baud"), QString::number(baud),
                                           QStringLiteral("--turnaround"),
                                           QString::number(turnaroundMs), QStringLiteral("--quiet")}
                                   + extra);
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < 5000)
            process.waitForReadyRead(100);
        port = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !port.isEmpty();
    }
    ~PduSimProcess()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};
