#pragma once

// Another program run from a test while the test's event loop keeps turning,
// so that a unit simulated in the test's own process can answer it.

#include <QEventLoop>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// Sleeps in the event loop until done() holds or timeoutMs has passed,
// looking again whenever sender emits one of the signals.
template<class Sender, class... Signals>
bool waitUntil(int timeoutMs, const std::function<bool()> &done, Sender *sender, Signals... wakeUps)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    (QObject::connect(sender, wakeUps, &loop,
                      [&] {
                          if (done())
                              loop.quit();
                      }),
     ...);
    loop.exec();
    return done();
}

bool waitForExit(QProcess &process, int timeoutMs);

struct Finished
{
    bool ok = false; // ran and ended by itself in time
    int exitCode = -1;
    QString out; // standard output and error, read as UTF-8
    QString err;
};

// Runs program to its end (killed after timeoutMs).
Finished runProgram(const QString &program, const QStringList &arguments, int timeoutMs = 10000);
// What a started process has printed when it ends.
Finished finishedOf(QProcess &process, bool endedInTime);

// The first line a process prints, or nothing when it printed none in time.
QString firstLine(QProcess &process, int timeoutMs);
