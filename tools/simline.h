#pragma once

// The simulated unit on a pseudo-terminal: it frames what the tool sends,
// hands each request to a responder (PduUnit in practice) and puts the reply
// on the line as a real unit would: after a turnaround, paced at the baud
// rate, and with the line faults an engineer may want to rehearse.
// Unix only (openpty).

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class PtyPair;
class QSocketNotifier;
class QTimer;

struct LineFaults
{
    int pieces = 1;              // a reply split into this many pieces ...
    int pieceGapMs = 0;          // ... with this much silence between them
    QByteArray garbageBefore;    // bytes sent before every reply
    int chatterEveryMs = 0;      // another station talking: bytes every N ms (0 = off)
    QByteArray chatterBytes;     // what it says (default: a frame for another address)
    int hangUpAfterRequests = 0; // close the line after this many requests (0 = never)
    int replyExtraBytes = 0;     // pad every reply with this many extra bytes (long replies)
    // A two-wire RS-485 adapter without echo suppression: every byte the tool
    // sends comes straight back to it, as it goes out on the line.
    bool echo = false;
    bool corruptEcho = false; // with echo: the last byte of every piece echoed comes back inverted
};

class SimLine : public QObject
{
    Q_OBJECT

public:
    using Responder = std::function<QByteArray(const QByteArray &request)>;
    using Framer = std::function<int(const QByteArray &buffer)>; // as PduUnit::requestLength

    explicit SimLine(Responder responder, Framer framer, QObject *parent = nullptr);
    ~SimLine() override;

    bool isOpen() const;
    QString portPath() const; // what the tool opens
    // A symbolic link to portPath(); an old link of that name is replaced, any
    // other file is left alone (false). The link goes when the line closes.
    bool makeLink(const QString &linkPath);

    // Line timing: 0 baud = replies go out at once, whole. A pseudo-terminal
    // hands over a request at once; the line takes it as complete only when
    // a real line would have carried its last byte, and starts the reply a
    // turnaround after that.
    void setBaudRate(int baud) { m_baud = baud; }
    void setTurnaroundMs(int ms) { m_turnaroundMs = ms; }
    // May change at any time; chatter follows at its next tick or the next request.
    LineFaults faults;

    int requestCount() const { return m_requests; }
    QByteArray lastRequest() const { return m_lastRequest; }

    void hangUp(); // the far end goes away now

signals:
    // Every request and reply, for the log with time stamps. replySent comes
    // when the reply's last byte is on the line, with every byte that went
    // out for it (garbage and padding included).
    void requestSeen(const QByteArray &request);
    void replySent(const QByteArray &reply);
    void lineClosed();

private:
    // A stretch of bytes that goes onto the line without a pause of its own.
    struct Segment
    {
        QByteArray bytes;
        qint64 notBeforeNs = 0; // on m_clock
        qint64 gapNs = 0;       // silence after the previous stretch has left
        QByteArray reply;       // set on the last stretch of a reply
        bool chatter = false;
        bool hangUp = false; // no bytes: the line closes here
    };

    void onBytes(const QByteArray &chunk);
    void echoBack(const QByteArray &chunk);
    void takeLengthFramed();
    void onSilence();
    void serve(const QByteArray &request, qint64 endNs);
    void queueReply(const QByteArray &reply, qint64 startNs, bool hangUpAfter);
    void pump();
    void sendChatter();
    void syncChatter();
    void removeLink();
    void watchToolOpens();
    void onOpenEvents();
    bool toolListening() const;
    qint64 nowNs() const;
    qint64 byteNs() const;
    int silenceMs() const;

    PtyPair *m_pty = nullptr;
    Responder m_responder;
    Framer m_framer;
    QByteArray m_pending;
    int m_baud = 0;
    int m_turnaroundMs = 0;
    int m_requests = 0;
    QByteArray m_lastRequest;

    QElapsedTimer m_clock;
    qint64 m_pendingSinceNs = 0; // when the first pending byte started on the line
    QTimer *m_silenceTimer = nullptr;
    class Pacer;
    std::unique_ptr<Pacer> m_pacer;
    QTimer *m_chatterTimer = nullptr;
    std::deque<Segment> m_queue;
    qint64 m_segmentStartNs = -1; // when the front stretch's first bit starts
    int m_segmentWritten = 0;
    qint64 m_lineFreeNs = 0;   // when the last stretch's last bit left
    qint64 m_hangUpDueNs = -1; // when a pending hang-up stops waiting for the tool to read
    QString m_linkPath;
    bool m_hungUp = false;
    // Who has the tool's end open, from the kernel's open and close events
    // on it (Linux); without them the tool is taken to be always there.
    int m_openWatchFd = -1;
    QSocketNotifier *m_openWatch = nullptr;
    int m_toolOpens = 0;
};
