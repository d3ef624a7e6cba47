// Ctrl+C and its kin, turned into an event of the event loop.

#include "cli/interrupt.h"

#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <atomic>
#include <windows.h>
#endif

namespace {

#if defined(Q_OS_UNIX)
// A signal arrives at any moment, in the middle of anything: the handler only
// writes a byte, which wakes the event loop where the command looks at it.
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalled = 0;
const int kStopSignals[] = {SIGINT, SIGTERM};

void onSignal(int signal)
{
    if (signalled) {
        // The second time the engineer means it: end as if nobody listened.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    signalled = 1;
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}
#elif defined(Q_OS_WIN)
// The console runs the handler on a thread of its own; the request reaches
// the event loop's thread as a queued call.
Interruption *instance = nullptr;
std::atomic<bool> pressed{false};

BOOL WINAPI onConsoleKey(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (pressed.exchange(true) || !instance)
        return FALSE; // the second time: the system's default ends the program
    QMetaObject::invokeMethod(instance, "noteRequest", Qt::QueuedConnection);
    return TRUE;
}
#endif

} // namespace

Interruption::Interruption(QObject *parent)
    : QObject(parent)
{
#if defined(Q_OS_UNIX)
    signalled = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return; // the program still works; Ctrl+C then ends it at once
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        Q_UNUSED(got)
        noteRequest();
    });
#elif defined(Q_OS_WIN)
    pressed = false;
    instance = this;
    SetConsoleCtrlHandler(onConsoleKey, TRUE);
#endif
}

Interruption::~Interruption()
{
#if defined(Q_OS_UNIX)
    for (int signal : kStopSignals)
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#elif defined(Q_OS_WIN)
    SetConsoleCtrlHandler(onConsoleKey, FALSE);
    instance = nullptr;
#endif
}

void Interruption::noteRequest()
{
    if (m_requested)
        return;
    m_requested = true;
    emit raised();
}
