#pragma once

// A pseudo-terminal pair standing in for a serial cable: the tool opens the
// slave by its path like any port, and the far end (a test, the simulated
// unit) reads and writes the master. Unix only.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

class PtyPair : public QObject
{
    Q_OBJECT

public:
    explicit PtyPair(QObject *parent = nullptr);
    ~PtyPair() override;

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    int slaveFd() const { return m_slave; }           // ours, kept open; -1 after closeMaster()
    QString slavePath() const { return m_slavePath; } // "/dev/pts/N"

    // Bytes the tool wrote, gathered from the master as the event loop runs.
    QByteArray received() const { return m_received; }
    QByteArray takeReceived();
    void clearReceived() { m_received.clear(); }
    // Runs the event loop (sleeping) until at least count bytes have been
    // gathered or timeoutMs has passed; true when they arrived.
    bool waitForReceived(int count, int timeoutMs);

    // Writes to the master, as the far end answering. True when all was taken.
    bool writeMaster(const QByteArray &bytes);

    // Hangs up the far end: the master is closed, the tool's port sees errors.
    void closeMaster();

signals:
    void bytesArrived(const QByteArray &chunk);

private:
    void readMaster();

    int m_master = -1;
    int m_slave = -1; // kept open so the master never reads EIO between opens
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
};
