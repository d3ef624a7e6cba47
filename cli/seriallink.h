#pragma once

// The device operations' link over a serial port, without a window: a request
// goes out, the wait sleeps in an event loop until the reply is complete (or
// has gone quiet, or the time-out has passed), and the reply is judged by the
// same rules as the window's exchange.

#include "device/link.h"
#include "serial/linestats.h"
#include "serial/port.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QVector>

#include <functional>

class Interruption;
class QEventLoop;

// One request and its reply, as the JSON output lists them.
struct ExchangeRecord
{
    QByteArray request;
    QByteArray echo;  // on a line that echoes: what came back in the request's place
    QByteArray reply; // the rest: the unit's reply
    ReplyVerdict verdict;
    double elapsedMs = 0; // from the request handed to the port to the end of the wait
    // From the request's last byte on the line to the reply's last byte, as
    // the window's statistics measure it; negative when no reply came.
    double responseMs = -1;
};

class SerialLink : public QObject, public DeviceLink
{
    Q_OBJECT

public:
    explicit SerialLink(const Interruption &interruption, QObject *parent = nullptr);

    // Opens name with settings; false with the engineer's message in *error
    // ("打开串口失败！" and the reason below it).
    bool open(const QString &name, const LineSettings &settings, QString *error);
    void setReplyTimeoutMs(int ms) { m_timeoutMs = ms; }
    // A two-wire RS-485 adapter hands every request back before the reply:
    // each exchange then takes the echo off, and an echo that differs is a
    // fault of the line ("回显不符"), as with the window's 去除回显.
    void setLineEchoes(bool echoes) { m_lineEchoes = echoes; }
    // Every request and reply as its traffic line, while set.
    void setTrafficLog(std::function<void(const QString &)> log) { m_trafficLog = std::move(log); }

    // Why the port went in the middle of the work ("串口 ttyUSB0 设备已断开或不可用");
    // empty while it is well.
    QString lostText() const { return m_lost; }
    const QVector<ExchangeRecord> &exchanges() const { return m_exchanges; }
    // The line's counters since the port opened, as the window's status bar keeps them.
    const LineStats &lineStats() const { return m_stats; }

    Exchange exchange(const QByteArray &request, const ReplyKind &kind) override;
    bool goesOn() const override;
    void pause(int ms) override;
    QString portName() const override;

private:
    void gather();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    const Interruption &m_interruption;
    int m_timeoutMs;
    bool m_lineEchoes = false;
    std::function<void(const QString &)> m_trafficLog;
    QString m_lost;

    // The exchange in progress.
    QEventLoop *m_waitLoop = nullptr; // what reception and a lost port wake
    QElapsedTimer m_clock;
    qint64 m_lastChunkMs = -1;     // when the latest bytes came; -1: none yet
    qint64 m_lastReceptionNs = -1; // the same on the line's clock
    QByteArray m_gathered;
    QVector<ExchangeRecord> m_exchanges;
    QElapsedTimer m_lineClock; // since the port opened, for response times
    LineStats m_stats;
};
