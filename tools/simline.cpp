// The simulated unit's end of the serial line: framing, turnaround, pacing and line faults.

#include "tools/simline.h"

#include "protocol/modbus.h"
#include "tools/pty.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <sys/timerfd.h>
#endif

namespace {

constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int kMinSilenceMs = 2; // Modbus keeps 1.75 ms above 19200 baud; a timer needs slack
// A hang-up waits for the tool to read the last reply, looking this often ...
// (the kernel moves written bytes to the reader's queue a moment after the
// write, so an empty queue right after writing proves nothing).
constexpr int kHangUpDrainCheckMs = 5;
// ... but not for ever: a tool that has closed its port never reads.
constexpr int kHangUpDrainLimitMs = 1000;

// Another master polling station 1: a frame the tool must not take for the unit's reply.
QByteArray defaultChatter()
{
    unsigned char frame[8];
    const int length = make_read_frame(frame, 0x01, 0x0000, 1);
    return QByteArray(reinterpret_cast<const char *>(frame), length);
}

} // namespace

// Qt's timers count whole milliseconds, while at 115200 baud a byte lasts 87
// microseconds: rounding every wait up would make the unit look a millisecond
// slower a request than the wire is. On Linux a timerfd wakes the event loop
// to the microsecond; elsewhere a precise Qt timer does what it can.
class SimLine::Pacer
{
public:
    Pacer(SimLine *line, std::function<void()> onTimeout)
        : m_onTimeout(std::move(onTimeout))
    {
#ifdef Q_OS_LINUX
        m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_fd >= 0) {
            m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, line);
            QObject::connect(m_notifier, &QSocketNotifier::activated, line, [this] {
                quint64 expirations = 0;
                if (::read(m_fd, &expirations, sizeof expirations) > 0)
                    m_onTimeout();
            });
            return;
        }
#endif
        m_timer = new QTimer(line);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, line, [this] { m_onTimeout(); });
    }
    ~Pacer()
    {
#ifdef Q_OS_LINUX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }

    void startNs(qint64 ns)
    {
        ns = qMax<qint64>(ns, 1000); // zero would disarm a timerfd
#ifdef Q_OS_LINUX
        if (m_fd >= 0) {
            itimerspec deadline{};
            deadline.it_value.tv_sec = time_t(ns / 1000000000);
            deadline.it_value.tv_nsec = long(ns % 1000000000);
            timerfd_settime(m_fd, 0, &deadline, nullptr);
            return;
        }
#endif
        m_timer->start(int((ns + 999999) / 1000000));
    }
    void stop()
    {
#ifdef Q_OS_LINUX
        if (m_fd >= 0) {
            itimerspec disarmed{};
            timerfd_settime(m_fd, 0, &disarmed, nullptr);
            return;
        }
#endif
        m_timer->stop();
    }

private:
    std::function<void()> m_onTimeout;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

SimLine::SimLine(Responder responder, Framer framer, QObject *parent)
    : QObject(parent)
    , m_pty(new PtyPair(this))
    , m_responder(std::move(responder))
    , m_framer(std::move(framer))
    , m_silenceTimer(new QTimer(this))
    , m_pacer(std::make_unique<Pacer>(this, [this] { pump(); }))
    , m_chatterTimer(new QTimer(this))
{
    m_clock.start();
    // Millisecond timers of the coarse kind may fire 5 % early or late; the
    // silence and the pacing are both a few milliseconds, so they must be precise.
    m_silenceTimer->setSingleShot(true);
    m_silenceTimer->setTimerType(Qt::PreciseTimer);
    m_chatterTimer->setTimerType(Qt::PreciseTimer);
    connect(m_silenceTimer, &QTimer::timeout, this, &SimLine::onSilence);
    connect(m_chatterTimer, &QTimer::timeout, this, &SimLine::sendChatter);
    connect(m_pty, &PtyPair::bytesArrived, this, &SimLine::onBytes);
    watchToolOpens();
    // Faults are usually set right after construction: pick up chatter then.
    QTimer::singleShot(0, this, &SimLine::syncChatter);
}

SimLine::~SimLine()
{
    removeLink();
#ifdef Q_OS_UNIX
    delete m_openWatch; // before its descriptor goes
    if (m_openWatchFd >= 0)
        ::close(m_openWatchFd);
#endif
}

bool SimLine::isOpen() const
{
    return !m_hungUp && m_pty->isOpen();
}

QString SimLine::portPath() const
{
    return m_pty->slavePath();
}

bool SimLine::makeLink(const QString &linkPath)
{
    if (!isOpen() || linkPath.isEmpty())
        return false;
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        if (!QFile::remove(linkPath))
            return false;
    } else if (existing.exists()) {
        return false;
    }
    if (!QFile::link(portPath(), linkPath))
        return false;
    if (m_linkPath != linkPath)
        removeLink();
    m_linkPath = linkPath;
    return true;
}

void SimLine::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    // Only our own link: someone may have pointed the name elsewhere meanwhile.
    const QFileInfo link(m_linkPath);
    if (link.isSymLink() && link.symLinkTarget() == QFileInfo(portPath()).absoluteFilePath())
        QFile::remove(m_linkPath);
    m_linkPath.clear();
}

// A real line carries nothing to a port that is closed, and a port opened
// later starts empty. A pseudo-terminal keeps whatever was written to it for
// the next opener, so the line watches the opens of the tool's end and drops
// what nobody is there to hear.
void SimLine::watchToolOpens()
{
#ifdef Q_OS_LINUX
    if (!m_pty->isOpen())
        return;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return;
    if (inotify_add_watch(fd, QFile::encodeName(portPath()).constData(), IN_OPEN | IN_CLOSE) < 0) {
        ::close(fd);
        return;
    }
    m_openWatchFd = fd;
    m_openWatch = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_openWatch, &QSocketNotifier::activated, this, &SimLine::onOpenEvents);
#endif
}

void SimLine::onOpenEvents()
{
#ifdef Q_OS_LINUX
    if (m_openWatchFd < 0)
        return;
    const int before = m_toolOpens;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_openWatchFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (const char *at = buffer; at < buffer + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            if (event->mask & IN_OPEN)
                ++m_toolOpens;
            if (event->mask & IN_CLOSE)
                m_toolOpens = qMax(0, m_toolOpens - 1);
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (before > 0 && m_toolOpens == 0 && m_pty->slaveFd() >= 0)
        tcflush(m_pty->slaveFd(), TCIFLUSH); // what the last reader left unread
#endif
}

bool SimLine::toolListening() const
{
    return m_openWatchFd < 0 || m_toolOpens > 0;
}

void SimLine::hangUp()
{
    if (m_hungUp)
        return;
    m_hungUp = true;
    m_silenceTimer->stop();
    m_pacer->stop();
    m_chatterTimer->stop();
    m_queue.clear();
    m_pending.clear();
    if (m_openWatch)
        m_openWatch->setEnabled(false);
    m_pty->closeMaster();
    removeLink();
    emit lineClosed();
}

qint64 SimLine::nowNs() const
{
    return m_clock.nsecsElapsed();
}

qint64 SimLine::byteNs() const
{
    return m_baud > 0 ? qint64(kBitsPerByte) * 1000000000LL / m_baud : 0;
}

int SimLine::silenceMs() const
{
    if (m_baud <= 0)
        return kMinSilenceMs;
    // 3.5 character times, rounded up so a slow writer is not cut short.
    const int ms = (35 * 1000 + m_baud - 1) / m_baud;
    return qMax(kMinSilenceMs, ms);
}

void SimLine::onBytes(const QByteArray &chunk)
{
    // The pair gathers everything for tests; a simulator running for days must not.
    m_pty->clearReceived();
    if (m_hungUp)
        return;
    // The tool opened its end before it wrote: its open is known by now, even
    // if that event has not had its turn in the event loop yet.
    onOpenEvents();
    if (m_pending.isEmpty())
        m_pendingSinceNs = nowNs();
    if (faults.echo || faults.corruptEcho)
        echoBack(chunk);
    m_pending.append(chunk);
    takeLengthFramed();
    if (m_hungUp)
        return;
    if (m_pending.isEmpty())
        m_silenceTimer->stop();
    else
        m_silenceTimer->start(silenceMs());
}

// The adapter hears the request as it goes out: each byte comes back as it
// leaves, paced like the request itself, so the echo is over when the request
// is and the reply follows it after the turnaround.
void SimLine::echoBack(const QByteArray &chunk)
{
    Segment segment;
    segment.bytes = chunk;
    if (faults.corruptEcho && !segment.bytes.isEmpty())
        segment.bytes[segment.bytes.size() - 1] = char(~segment.bytes.at(segment.bytes.size() - 1));
    segment.notBeforeNs = nowNs();
    m_queue.push_back(segment);
    pump();
}

void SimLine::takeLengthFramed()
{
    while (!m_pending.isEmpty() && !m_hungUp) {
        const int length = m_framer ? m_framer(m_pending) : -1;
        if (length <= 0 || length > m_pending.size())
            return;
        const QByteArray request = m_pending.left(length);
        m_pending.remove(0, length);
        // The next request in the buffer follows this one on the line.
        const qint64 endNs = qMax(nowNs(), m_pendingSinceNs + length * byteNs());
        m_pendingSinceNs = endNs;
        serve(request, endNs);
    }
}

void SimLine::onSilence()
{
    // The line went quiet: whatever came is one request, as a real unit
    // frames it, even when it cannot be measured or stops short.
    if (m_pending.isEmpty() || m_hungUp)
        return;
    QByteArray request;
    request.swap(m_pending);
    serve(request, nowNs());
}

void SimLine::serve(const QByteArray &request, qint64 endNs)
{
    ++m_requests;
    m_lastRequest = request;
    emit requestSeen(request);
    if (m_hungUp)
        return;
    const QByteArray reply = m_responder ? m_responder(request) : QByteArray();
    const bool last = faults.hangUpAfterRequests > 0 && m_requests >= faults.hangUpAfterRequests;
    queueReply(reply, endNs + qint64(m_turnaroundMs) * 1000000, last);
    syncChatter();
}

void SimLine::queueReply(const QByteArray &reply, qint64 startNs, bool hangUpAfter)
{
    if (!reply.isEmpty()) {
        QByteArray wire = faults.garbageBefore + reply;
        // A counting pattern, so a test can tell where a long reply was cut.
        for (int i = 0; i < faults.replyExtraBytes; ++i)
            wire.append(char(i & 0xFF));
        const int pieces = qBound(1, faults.pieces, wire.size());
        int from = 0;
        for (int piece = 0; piece < pieces; ++piece) {
            const int to = int(qint64(wire.size()) * (piece + 1) / pieces);
            Segment segment;
            segment.bytes = wire.mid(from, to - from);
            segment.notBeforeNs = startNs;
            segment.gapNs = piece == 0 ? 0 : qint64(qMax(0, faults.pieceGapMs)) * 1000000;
            if (piece == pieces - 1)
                segment.reply = wire;
            m_queue.push_back(segment);
            from = to;
        }
    }
    if (hangUpAfter) {
        Segment segment;
        segment.notBeforeNs = startNs;
        segment.gapNs = qint64(kHangUpDrainCheckMs) * 1000000;
        segment.hangUp = true;
        m_queue.push_back(segment);
    }
    pump();
}

void SimLine::pump()
{
    m_pacer->stop();
    const qint64 perByteNs = byteNs();
    while (!m_queue.empty() && !m_hungUp) {
        const qint64 now = nowNs();
        Segment &segment = m_queue.front();
        if (m_segmentStartNs < 0)
            m_segmentStartNs = qMax(segment.notBeforeNs, m_lineFreeNs + segment.gapNs);
        if (now < m_segmentStartNs) {
            m_pacer->startNs(m_segmentStartNs - now);
            return;
        }
        if (segment.hangUp) {
            // Closing the master flushes what the tool has not read yet: let
            // it take the last reply first, as it would from a real unit.
            if (m_hangUpDueNs < 0)
                m_hangUpDueNs = now + qint64(kHangUpDrainLimitMs) * 1000000;
            int unread = 0;
#ifdef Q_OS_UNIX
            onOpenEvents();
            if (!toolListening() || m_pty->slaveFd() < 0
                || ::ioctl(m_pty->slaveFd(), FIONREAD, &unread) != 0)
                unread = 0;
#endif
            if (unread > 0 && now < m_hangUpDueNs) {
                m_pacer->startNs(qint64(kHangUpDrainCheckMs) * 1000000);
                return;
            }
            hangUp();
            return;
        }
        // Each byte is handed over once its last bit would have left a real
        // line, so the tool sees the reply grow as fast as the wire allows.
        const int size = segment.bytes.size();
        const int due
            = perByteNs > 0 ? int(qMin<qint64>(size, (now - m_segmentStartNs) / perByteNs)) : size;
        if (due > m_segmentWritten) {
            onOpenEvents();
            if (toolListening())
                m_pty->writeMaster(segment.bytes.mid(m_segmentWritten, due - m_segmentWritten));
            m_segmentWritten = due;
        }
        if (m_segmentWritten < size) {
            const qint64 nextNs = m_segmentStartNs + (m_segmentWritten + 1) * perByteNs;
            m_pacer->startNs(nextNs - now);
            return;
        }
        // A gap counts from when the bytes really left, not from when they should have.
        m_lineFreeNs = qMax(m_segmentStartNs + size * perByteNs, now);
        const QByteArray reply = segment.reply;
        m_queue.pop_front();
        m_segmentStartNs = -1;
        m_segmentWritten = 0;
        if (!reply.isEmpty())
            emit replySent(reply);
    }
}

void SimLine::syncChatter()
{
    if (m_hungUp || faults.chatterEveryMs <= 0) {
        m_chatterTimer->stop();
        return;
    }
    if (!m_chatterTimer->isActive() || m_chatterTimer->interval() != faults.chatterEveryMs)
        m_chatterTimer->start(faults.chatterEveryMs);
}

void SimLine::sendChatter()
{
    syncChatter();
    if (!m_chatterTimer->isActive())
        return;
    // A talker faster than its own frames would pile up without end.
    for (const Segment &segment : m_queue) {
        if (segment.chatter)
            return;
    }
    Segment segment;
    segment.bytes = faults.chatterBytes.isEmpty() ? defaultChatter() : faults.chatterBytes;
    segment.notBeforeNs = nowNs();
    segment.chatter = true;
    m_queue.push_back(segment);
    pump();
}
