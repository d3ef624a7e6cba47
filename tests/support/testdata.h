#pragma once

// What several test programs build their cases from: a scratch working
// directory (config.ini and mac.csv are read from there), config.ini
// sections, and frames completed with a CRC computed apart from the program.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A fresh working directory for one test case, entered on construction and
// left (and removed) on destruction. A fresh path each time also keeps
// QSettings' cache of parsed files out of the way. XDG_DATA_HOME and
// XDG_CONFIG_HOME point into it while it lives, so a window's provisioning
// record, and what the bench remembers of it, are the test's own.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool isValid() const { return m_entered; }
    QString path() const { return m_dir.path(); }
    // Writes name (relative to the directory); false when it could not.
    bool write(const QString &name, const QByteArray &content) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
    QByteArray m_previousDataHome;
    QByteArray m_previousConfigHome;
    bool m_entered = false;
};

// The source tree (for examples/): FEEDERBENCH_SOURCE_DIR as CTest sets it,
// else the tree this test was built from.
QString sourceDir();

// "[dev07]\nreg=0704\ndes=…\ntype=0\nregnum=1\nxsws=0\n"
QByteArray iniSection(int index, const QByteArray &reg, const QByteArray &des, int type,
                      int regnum = 1, int xsws = 0);

// CRC-16/MODBUS as the Modbus-RTU standard publishes it, kept apart from the
// program's own routine so that expected frames are checked independently.
quint16 referenceCrc(const QByteArray &bytes);

// The process's resident memory in kB (Linux), for the benchmarks; -1 elsewhere.
long residentMemoryKb();
// "55 06 18 05 02 40" -> "55 06 18 05 02 40 CA 8F": the frame with its CRC,
// upper-case, as BenchRig::requestsSeen() shows frames.
QString withCrc(const QString &hex);
QStringList framesWithCrc(const QStringList &hex);

// A "~" service packet built from the published frame rules, apart from the
// program's encoder: VER 21, ADR 01, CID1 56, the fourth byte, LENGTH with its
// 4-bit check, INFO in upper-case hex, the 16-bit two's complement of the
// character sum, carriage return.
QByteArray servicePacket(quint8 fourth, const QByteArray &info = QByteArray());

// A request as the simulated unit's log and the tests write it: "7E 32 31 …".
QString asSeen(const QByteArray &request);
// Result lines without the blanks around them.
QStringList trimmed(const QStringList &lines);
// A session-record line without its time: "报文\t2026-12-07 10:30:00.123\t…"
// as "报文\t…" (a line without the time field comes back as it is).
QString withoutTime(const QString &recordLine);
QStringList withoutTimes(const QStringList &recordLines);
