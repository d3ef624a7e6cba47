// The pseudo-terminal pair behind the simulated unit and the tests.

#include "tools/pty.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

PtyPair::PtyPair(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    char name[128] = {};
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    // Raw on both sides: the line discipline must not translate CR or eat
    // control bytes that Modbus frames are full of.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPair::readMaster);
#endif
}

PtyPair::~PtyPair()
{
    closeMaster();
#ifdef Q_OS_UNIX
    if (m_slave >= 0)
        ::close(m_slave);
#endif
}

QByteArray PtyPair::takeReceived()
{
    QByteArray bytes;
    bytes.swap(m_received);
    return bytes;
}

bool PtyPair::waitForReceived(int count, int timeoutMs)
{
    if (m_received.size() >= count)
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto conn = connect(this, &PtyPair::bytesArrived, &loop, [&] {
        if (m_received.size() >= count)
            loop.quit();
    });
    deadline.start(timeoutMs);
    loop.exec();
    disconnect(conn);
    return m_received.size() >= count;
}

bool PtyPair::writeMaster(const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    if (m_master < 0)
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
#else
    Q_UNUSED(bytes);
    return false;
#endif
}

void PtyPair::closeMaster()
{
#ifdef Q_OS_UNIX
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    // With the slave still open by us the tool would not notice the hang-up.
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
#endif
}

void PtyPair::readMaster()
{
#ifdef Q_OS_UNIX
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            const QByteArray chunk(buffer, int(n));
            m_received.append(chunk);
            emit bytesArrived(chunk);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO: no slave open any more. Stop watching until the next write.
        if (m_notifier)
            m_notifier->setEnabled(false);
        return;
    }
#endif
}
