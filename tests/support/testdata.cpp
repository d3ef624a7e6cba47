#include "support/testdata.h"

#include <QDir>
#include <QFile>

ScratchDir::ScratchDir()
    : m_previous(QDir::currentPath())
{
    m_entered = m_dir.isValid() && QDir::setCurrent(m_dir.path());
    // The provisioning record goes into the application-data folder: the
    // test's own, never the user's.
    m_previousDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    // And what the bench remembers of its record goes with it.
    m_previousConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
}

ScratchDir::~ScratchDir()
{
    QDir::setCurrent(m_previous);
    if (m_previousDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", m_previousDataHome);
    if (m_previousConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_previousConfigHome);
}

bool ScratchDir::write(const QString &name, const QByteArray &content) const
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(content) == content.size();
}

QString sourceDir()
{
    const QString fromEnvironment = QString::fromLocal8Bit(qgetenv("FEEDERBENCH_SOURCE_DIR"));
    return fromEnvironment.isEmpty() ? QStringLiteral(FEEDERBENCH_SOURCE_DIR_DEFAULT)
                                     : fromEnvironment;
}

QByteArray iniSection(int index, const QByteArray &reg, const QByteArray &des, int type, int regnum,
                      int xsws)
{
    return QStringLiteral("[dev%1]\nreg=%2\ndes=%3\ntype=%4\nregnum=%5\nxsws=%6\n")
        .arg(index, 2, 10, QLatin1Char('0'))
        .arg(QString::fromUtf8(reg), QString::fromUtf8(des), QString::number(type),
             QString::number(regnum), QString::number(xsws))
        .toUtf8();
}

quint16 referenceCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QString withCrc(const QString &hex)
{
    QByteArray frame = QByteArray::fromHex(hex.toLatin1());
    const quint16 crc = referenceCrc(frame);
    frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

QStringList framesWithCrc(const QStringList &hex)
{
    QStringList frames;
    for (const QString &h : hex)
        frames << withCrc(h);
    return frames;
}

QByteArray servicePacket(quint8 fourth, const QByteArray &info)
{
    const int lenid = 2 * info.size();
    const int nibbles = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF);
    const int lchksum = (16 - nibbles % 16) % 16;
    const int length = (lchksum << 12) | lenid;
    QByteArray bytes = QByteArray::fromHex("210156");
    bytes.append(char(fourth)).append(char(length >> 8)).append(char(length & 0xFF)).append(info);
    const QByteArray body = bytes.toHex().toUpper();
    int sum = 0;
    for (char c : body)
        sum += quint8(c);
    const QByteArray chksum = QByteArray::number((0x10000 - sum % 0x10000) & 0xFFFF, 16);
    return '~' + body + chksum.toUpper().rightJustified(4, '0') + '\r';
}

long residentMemoryKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

QString asSeen(const QByteArray &request)
{
    return QString::fromLatin1(request.toHex(' ').toUpper());
}

QStringList trimmed(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines)
        out << line.trimmed();
    return out;
}

QString withoutTime(const QString &recordLine)
{
    const int first = recordLine.indexOf(QLatin1Char('\t'));
    const int second = first < 0 ? -1 : recordLine.indexOf(QLatin1Char('\t'), first + 1);
    if (second < 0)
        return recordLine;
    return recordLine.left(first) + recordLine.mid(second);
}

QStringList withoutTimes(const QStringList &recordLines)
{
    QStringList out;
    for (const QString &line : recordLines)
        out << withoutTime(line);
    return out;
}
