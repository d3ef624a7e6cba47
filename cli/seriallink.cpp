// The device operations' link over a serial port, for the command line.

#include "cli/seriallink.h"

#include "cli/interrupt.h"
#include "protocol/hex.h"
#include "serial/logline.h"
#include "serial/replytiming.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

namespace {

// The window gathers a reply into 256 bytes; a longer answer is no frame of
// the unit's anyway, and judging the same bytes keeps both front ends alike.
constexpr int kGatherLimit = 256;

const unsigned char *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

} // namespace

SerialLink::SerialLink(const Interruption &interruption, QObject *parent)
    : QObject(parent)
    , m_interruption(interruption)
    , m_timeoutMs(kReplyTimeoutMs)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::gather);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

bool SerialLink::open(const QString &name, const LineSettings &settings, QString *error)
{
    m_port.setPortName(name);
    if (!m_port.open(QIODevice::ReadWrite)) {
        *error = openFailureText(
            openFailureReason(m_port.portName(), m_port.error(), m_port.errorString()));
        return false;
    }
    const LineSetting lacking = applyLineSettings(m_port, settings);
    if (lacking == LineSetting::None) {
        m_lineClock.start();
        return true;
    }
    QString setting;
    switch (lacking) {
    case LineSetting::BaudRate:
        setting = QStringLiteral("波特率“%1”").arg(settings.baudRate);
        break;
    case LineSetting::DataBits:
        setting = QStringLiteral("数据位“%1位”").arg(int(settings.dataBits));
        break;
    case LineSetting::Parity:
        setting = QStringLiteral("校验位“%1”")
                      .arg(settings.parity == QSerialPort::OddParity ? QStringLiteral("奇校验")
                           : settings.parity == QSerialPort::EvenParity ? QStringLiteral("偶校验")
                                                                        : QStringLiteral("无校验"));
        break;
    case LineSetting::StopBits:
        setting = QStringLiteral("停止位“%1位”")
                      .arg(settings.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                           : settings.stopBits == QSerialPort::TwoStop      ? QStringLiteral("2")
                                                                            : QStringLiteral("1"));
        break;
    case LineSetting::FlowControl:
        setting = QStringLiteral("流控制“无”");
        break;
    case LineSetting::None:
        break;
    }
    m_port.close();
    *error = openFailureText(QStringLiteral("串口 %1 不支持%2。").arg(m_port.portName(), setting));
    return false;
}

bool SerialLink::goesOn() const
{
    return m_lost.isEmpty() && m_port.isOpen() && !m_interruption.requested();
}

QString SerialLink::portName() const
{
    return m_port.portName();
}

Exchange SerialLink::exchange(const QByteArray &request, const ReplyKind &kind)
{
    Exchange done;
    if (!goesOn()) {
        done.verdict = {ReplyVerdict::Abandoned, 0, false};
        return done;
    }
    const auto *frame = bytesOf(request);
    const int echoLength = m_lineEchoes ? request.size() : 0;
    // Bytes left over from an earlier exchange must not pass for this reply.
    m_port.readAll();
    m_gathered.clear();
    m_lastChunkMs = -1;
    m_lastReceptionNs = -1;
    m_clock.start();
    const QDateTime sentAt = QDateTime::currentDateTime();
    const qint64 writeStartNs = m_lineClock.nsecsElapsed();
    const qint64 accepted = m_port.write(request);
    // Out now rather than at the event loop's next turn: the wait for the
    // reply starts with the request on the wire.
    m_port.flush();
    // The line carries the bytes at its baud rate from the write on: the last
    // one has left once the line has had time for all of them.
    const qint64 lastByteOutNs
        = accepted > 0 ? writeStartNs + accepted * portCharacterNs(m_port) : -1;
    if (m_trafficLog)
        m_trafficLog(sendLogLine(sentAt, hexRequestText(frame, request.size())));

    // The wait sleeps: a timer wakes it when the next decision is due (the
    // time-out, or the quiet gap after the latest bytes), reception and a
    // lost port in between. Ctrl+C does not cut it short: the request is on
    // the wire, and its reply is what the engineer needs to see.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_waitLoop = &loop;
    for (;;) {
        if (!m_lost.isEmpty())
            break;
        // A complete reply needs no quiet gap to tell that it is over; on a
        // line that echoes, the whole echo has to come before it.
        const ReplyState state
            = checkEchoedReply(kind, frame, echoLength, bytesOf(m_gathered), m_gathered.size());
        if (state == ReplyState::Answer || state == ReplyState::Exception)
            break;
        const qint64 elapsed = m_clock.elapsed();
        if (elapsed >= m_timeoutMs)
            break;
        if (m_lastChunkMs >= 0 && elapsed - m_lastChunkMs > kQuietGapMs)
            break;
        qint64 due = m_timeoutMs;
        if (m_lastChunkMs >= 0)
            due = qMin(due, m_lastChunkMs + kQuietGapMs + 1);
        deadline.start(int(due - elapsed));
        loop.exec();
    }
    m_waitLoop = nullptr;
    deadline.stop();

    ExchangeRecord record;
    record.request = request;
    record.elapsedMs = m_clock.nsecsElapsed() / 1e6;
    const auto *gathered = bytesOf(m_gathered);
    // Whatever came is shown, a broken reply too: it is what the engineer
    // needs to see when an operation fails. The echo on a line of its own, marked.
    const EchoSplit split = splitEcho(frame, echoLength, gathered, m_gathered.size());
    if (m_trafficLog && split.replyStart > 0)
        m_trafficLog(receiveLogLine(QDateTime::currentDateTime(), gathered, split.replyStart)
                     + echoMarker(split.state));
    if (m_trafficLog && m_gathered.size() > split.replyStart)
        m_trafficLog(receiveLogLine(QDateTime::currentDateTime(), gathered + split.replyStart,
                                    m_gathered.size() - split.replyStart));
    if (!m_lost.isEmpty()) {
        // Closed here, outside the port's own signal, where it is safe.
        m_port.close();
        done.verdict = {ReplyVerdict::Abandoned, 0, accepted > 0};
        record.verdict = done.verdict;
        record.reply = m_gathered;
        m_stats.count(done.verdict);
        m_exchanges.append(record);
        return done;
    }
    const ExchangeJudgement judged
        = judgeExchange(kind, frame, request.size(), m_lineEchoes, gathered, m_gathered.size());
    done.verdict = judged.verdict;
    done.verdict.sent = accepted > 0;
    done.reply = m_gathered.mid(judged.replyStart, judged.replyLength);
    // A reply cannot come before its request has left; one that seems to (a
    // line slower than the port's setting, a pseudo-terminal) counts as at once.
    const qint64 responseNs = lastByteOutNs >= 0 && judged.replyLength > 0
                                  ? qMax<qint64>(0, m_lastReceptionNs - lastByteOutNs)
                                  : -1;
    m_stats.count(done.verdict, responseNs);
    record.verdict = done.verdict;
    record.echo = m_gathered.left(split.replyStart);
    record.reply = m_gathered.mid(split.replyStart);
    record.responseMs = responseNs >= 0 ? responseNs / 1e6 : -1;
    m_exchanges.append(record);
    return done;
}

void SerialLink::gather()
{
    const QByteArray chunk = m_port.readAll();
    if (chunk.isEmpty())
        return;
    const int room = kGatherLimit - m_gathered.size();
    if (room > 0)
        m_gathered.append(chunk.left(room));
    if (m_clock.isValid())
        m_lastChunkMs = m_clock.elapsed();
    m_lastReceptionNs = m_lineClock.nsecsElapsed();
    if (m_waitLoop)
        m_waitLoop->quit();
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    if (!m_lost.isEmpty())
        return;
    m_lost = QStringLiteral("串口 %1 %2").arg(m_port.portName(), portErrorText(error));
    if (m_waitLoop)
        m_waitLoop->quit();
}

void SerialLink::pause(int ms)
{
    if (ms <= 0 || !goesOn())
        return;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Ctrl+C or a lost port end the pause at once: nothing is on the wire.
    connect(&m_interruption, &Interruption::raised, &loop, &QEventLoop::quit);
    m_waitLoop = &loop;
    for (qint64 elapsed = clock.elapsed(); elapsed < ms && goesOn(); elapsed = clock.elapsed()) {
        deadline.start(int(ms - elapsed));
        loop.exec();
    }
    m_waitLoop = nullptr;
    if (!m_lost.isEmpty())
        m_port.close(); // a vanished device reports its error on every turn until closed
}
