#pragma once

// Ctrl+C asks the running command to end after the exchange in progress, so
// that what it did is reported and recorded; a second Ctrl+C ends the program
// at once. SIGINT and SIGTERM on Unix, Ctrl+C and Ctrl+Break on Windows.

#include <QObject>

class QSocketNotifier;

class Interruption : public QObject
{
    Q_OBJECT

public:
    // Catches the keys and signals while it lives; one at a time.
    explicit Interruption(QObject *parent = nullptr);
    ~Interruption() override;

    bool requested() const { return m_requested; }

signals:
    // Once, in the event loop, when the engineer pressed Ctrl+C.
    void raised();

private:
    Q_INVOKABLE void noteRequest();

    bool m_requested = false;
    QSocketNotifier *m_notifier = nullptr;
};
