#include "support/childprocess.h"

namespace {

const auto processFinished = QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished);

} // namespace

bool waitForExit(QProcess &process, int timeoutMs)
{
    return waitUntil(
        timeoutMs, [&] { return process.state() == QProcess::NotRunning; }, &process,
        processFinished, &QProcess::errorOccurred);
}

Finished finishedOf(QProcess &process, bool endedInTime)
{
    Finished result;
    if (!endedInTime) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.ok = endedInTime && process.exitStatus() == QProcess::NormalExit
                && process.error() != QProcess::FailedToStart;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

Finished runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    const bool ended = waitForExit(process, timeoutMs);
    return finishedOf(process, ended);
}

QString firstLine(QProcess &process, int timeoutMs)
{
    waitUntil(
        timeoutMs, [&] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
        &process, &QProcess::readyReadStandardOutput, processFinished);
    return process.canReadLine() ? QString::fromLocal8Bit(process.readLine()).trimmed() : QString();
}
