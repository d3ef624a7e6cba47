#pragma once

// The simulated unit on a pseudo-terminal: it frames what the tool sends,
// hands each request to a responder (PduUnit in practice) and puts the reply
// on the line as a real unit would: after a turnaround, paced at the baud
// rate, and with the line faults an engineer may want to rehearse.
// Unix only (openpty).

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class PtyPair;
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
    QString portPath() const;              // what the tool opens
    bool makeLink(const QString &linkPath); // a symbolic link to portPath()

    // Line timing: 0 baud = replies go out at once, whole.
    void setBaudRate(int baud) { m_baud = baud; }
    void setTurnaroundMs(int ms) { m_turnaroundMs = ms; }
    LineFaults faults;

    int requestCount() const { return m_requests; }
    QByteArray lastRequest() const { return m_lastRequest; }

    void hangUp(); // the far end goes away now

signals:
    // Every request and reply, for the log with time stamps.
    void requestSeen(const QByteArray &request);
    void replySent(const QByteArray &reply);
    void lineClosed();

private:
    // Implementation is the line's own; see simline.cpp.
    void onBytes(const QByteArray &chunk);

    PtyPair *m_pty = nullptr;
    Responder m_responder;
    Framer m_framer;
    QByteArray m_pending;
    int m_baud = 0;
    int m_turnaroundMs = 0;
    int m_requests = 0;
    QByteArray m_lastRequest;
};
