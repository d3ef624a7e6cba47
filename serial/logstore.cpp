// The lines of the message windows kept for saving, and the session record.

#include "serial/logstore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextCodec>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// What a line costs in memory: its characters and QString's own header.
qint64 memoryOf(const QString &line)
{
    return qint64(line.size()) * 2 + 32;
}

} // namespace

QStringList splitIntoLines(const QString &text)
{
    QString joined = text;
    joined.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar &c : joined) {
        if (c == QLatin1Char('\r') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char('\n');
    }
    return joined.split(QLatin1Char('\n'));
}

LineStore::LineStore(qint64 memoryBytes)
    : m_memoryBytes(memoryBytes)
{}

LineStore::~LineStore() = default;

void LineStore::append(const QString &line)
{
    m_recent.append(line);
    m_recentBytes += memoryOf(line);
    m_textChars += line.size();
    if (m_recentBytes > m_memoryBytes && !m_spillFailed)
        spill();
}

void LineStore::clear()
{
    m_recent.clear();
    m_recentBytes = 0;
    m_spill.reset();
    m_spilledLines = 0;
    m_textChars = 0;
    m_spillFailed = false;
}

// The lines never hold a line feed, so the file is plain UTF-8 lines.
void LineStore::spill()
{
    if (!m_spill) {
        m_spill = std::make_unique<QTemporaryFile>(
            QDir::temp().filePath(QStringLiteral("feederbench-log-XXXXXX")));
        if (!m_spill->open()) {
            m_spill.reset();
            m_spillFailed = true;
            return;
        }
    }
    QByteArray chunk;
    chunk.reserve(int(m_recentBytes / 2));
    for (const QString &line : qAsConst(m_recent)) {
        chunk += line.toUtf8();
        chunk += '\n';
    }
    const qint64 sizeBefore = m_spill->size();
    m_spill->seek(sizeBefore);
    if (m_spill->write(chunk) != chunk.size() || !m_spill->flush()) {
        // A part of the chunk may have reached the file: cut it off, the
        // lines stay here.
        m_spill->resize(sizeBefore);
        m_spillFailed = true;
        return;
    }
    m_spilledLines += m_recent.size();
    m_recent.clear();
    m_recentBytes = 0;
}

bool LineStore::forEachLine(const std::function<bool(const QString &)> &visit)
{
    if (m_spill) {
        if (!m_spill->seek(0))
            return false;
        for (qint64 n = 0; n < m_spilledLines; ++n) {
            QByteArray line = m_spill->readLine();
            if (!line.endsWith('\n'))
                return false;
            line.chop(1);
            if (!visit(QString::fromUtf8(line)))
                return false;
        }
    }
    for (const QString &line : qAsConst(m_recent)) {
        if (!visit(line))
            return false;
    }
    return true;
}

// Writes through a temporary file that replaces the chosen one only when all
// of it is on disk, so a failed save never leaves a truncated log behind.
namespace {

// A file that must be written where it stands rather than replaced by a new
// one: a hard-linked file (a new file would leave the other names holding the
// old text) and anything that is not a plain file (a pipe, a device).
bool mustWriteInPlace(const QString &fileName)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return false; // a new file
    return !S_ISREG(st.st_mode) || st.st_nlink > 1;
#else
    const QFileInfo info(fileName);
    return info.exists() && !info.isFile();
#endif
}

// Writes all of bytes or says why not. A write that the system cuts short (a
// full disk, a file-size limit) is tried again for the rest, which then fails
// with the system's reason; a single write would only come back short, with
// no reason at all.
bool writeAll(QFileDevice &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The lines in the system's own encoding, as a text stream would write them,
// in pieces of about kSaveChunkBytes so a million lines never sit in memory twice.
constexpr int kSaveChunkBytes = 256 * 1024;

SaveResult writeLines(QFileDevice &file, LineStore &lines)
{
    QTextCodec *const codec = QTextCodec::codecForLocale();
    QByteArray chunk;
    bool first = true;
    bool written = true;
    const bool complete = lines.forEachLine([&](const QString &line) {
        if (!first)
            chunk += '\n';
        first = false;
        chunk += codec->fromUnicode(line);
        if (chunk.size() >= kSaveChunkBytes) {
            written = writeAll(file, chunk);
            chunk.clear();
        }
        return written;
    });
    if (written)
        written = writeAll(file, chunk) && file.flush();
    if (!written)
        return {SaveResult::WriteFailed, file.errorString()};
    if (!complete)
        return {SaveResult::WriteFailed, QStringLiteral("消息记录无法完整读出")};
    return {};
}

} // namespace

SaveResult saveLines(const QString &fileName, LineStore &lines)
{
    if (mustWriteInPlace(fileName)) {
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return {SaveResult::OpenFailed, file.errorString()};
        return writeLines(file, lines);
    }

    // Elsewhere through a temporary file that replaces the chosen one only
    // when all of it is on disk. In a folder that takes no new files the file
    // is written directly instead, if the user may write it.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return {SaveResult::OpenFailed, file.errorString()};
    const SaveResult result = writeLines(file, lines);
    if (result.outcome != SaveResult::Saved)
        file.cancelWriting(); // the temporary file goes at commit
    // Committed in any case: a file left uncommitted is removed, and when it
    // was written directly that is the engineer's own file.
    const bool committed = file.commit();
    if (result.outcome != SaveResult::Saved)
        return result;
    if (!committed)
        return {SaveResult::WriteFailed, file.errorString()};
    return {};
}

namespace {

constexpr int kMaxSameSecondRecords = 1000; // copies started in one second

QString lockFileName(const QString &record)
{
    return record + QStringLiteral(".lock");
}

// A lock that only its holder's end (or its death) releases: a record is held
// for as long as its copy runs, however long that is.
std::unique_ptr<QLockFile> takeLock(const QString &record)
{
    auto lock = std::make_unique<QLockFile>(lockFileName(record));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

} // namespace

SessionRecord::SessionRecord()
    : m_clock([] { return QDateTime::currentDateTime(); })
{}

SessionRecord::~SessionRecord()
{
    flush();
    m_file.close();
}

bool SessionRecord::open(const QString &folder, const QDateTime &start)
{
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("无法建立文件夹 %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    // Two runs started in the same second get a file each: the name is the
    // first whose lock this copy gets and whose file it makes new, both of
    // which another copy cannot do at the same time.
    const QString base = sessionFileName(start);
    for (int n = 1; n <= kMaxSameSecondRecords; ++n) {
        const QString name
            = n == 1 ? base : QString(base).insert(base.size() - 4, QStringLiteral("-%1").arg(n));
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            continue; // taken long ago: not worth asking its lock
        std::unique_ptr<QLockFile> lock = takeLock(path);
        if (!lock)
            continue;
        m_file.setFileName(path);
        // Unbuffered: flush() is one write straight to the system.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::NewOnly
                        | QIODevice::Unbuffered)) {
            m_lock = std::move(lock);
            return true;
        }
        if (!QFileInfo::exists(path)) {
            m_error = m_file.errorString();
            return false;
        }
    }
    m_error = QStringLiteral("同一秒内已有太多记录文件");
    return false;
}

void SessionRecord::append(Window window, const QString &line)
{
    if (!m_file.isOpen())
        return;
    static const char *const marks[] = {"报文\t", "结果\t", "串口\t"};
    m_pending += marks[window];
    m_pending += m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1();
    m_pending += '\t';
    m_pending += line.toUtf8();
    // Text mode's line ends, so the record reads well in the system's editor.
#ifdef Q_OS_WIN
    m_pending += "\r\n";
#else
    m_pending += '\n';
#endif
    ++m_pendingLines;
}

bool SessionRecord::flush()
{
    if (!m_file.isOpen() || m_pending.isEmpty())
        return true;
    const qint64 sizeBefore = m_file.size();
    const qint64 lines = m_pendingLines;
    const qint64 written = m_file.write(m_pending);
    const bool whole = written == m_pending.size() && m_file.flush();
    m_pending.clear();
    m_pendingLines = 0;
    if (!whole) {
        // A part of the batch may have reached the disk: cut back to whole
        // lines, so that what follows starts on a line of its own.
        m_error = m_file.errorString();
        m_file.resize(sizeBefore);
        m_missingLines += lines;
        if (!m_failing) {
            m_failing = true;
            if (m_onFailure)
                m_onFailure(m_error);
        }
        return false;
    }
    if (m_failing) {
        m_failing = false;
        const qint64 missing = m_missingLines;
        m_missingLines = 0;
        if (m_onResumed)
            m_onResumed(missing);
    }
    return true;
}

QString sessionFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("sessions"));
}

QString sessionFileName(const QDateTime &start)
{
    return start.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) + QStringLiteral(".txt");
}

QStringList pruneSessionRecords(const QString &folder, const QDateTime &now, const QString &running,
                                int keepDays, qint64 keepBytes)
{
    static const QRegularExpression recordName(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(-\\d+)?\\.txt$"));
    QFileInfoList records;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files);
    for (const QFileInfo &file : files) {
        if (recordName.match(file.fileName()).hasMatch())
            records << file;
    }
    const QString runningPath
        = running.isEmpty() ? QString() : QFileInfo(running).absoluteFilePath();
    // The running record is the newest, whatever its time stamp says.
    std::sort(records.begin(), records.end(), [&](const QFileInfo &a, const QFileInfo &b) {
        const bool aRunning = a.absoluteFilePath() == runningPath;
        const bool bRunning = b.absoluteFilePath() == runningPath;
        if (aRunning != bRunning)
            return aRunning;
        return a.lastModified() > b.lastModified();
    });

    // Newest first: once one is too old or over the size, it and every older
    // one go, so what stays is the recent past without gaps.
    const QDateTime oldest = now.addDays(-keepDays);
    QStringList removed;
    qint64 kept = 0;
    bool keeping = true;
    for (const QFileInfo &file : qAsConst(records)) {
        kept += file.size();
        const bool isRunning = file.absoluteFilePath() == runningPath;
        if (keeping && !isRunning)
            keeping = file.lastModified() >= oldest && kept <= keepBytes;
        if (keeping || isRunning)
            continue;
        // Another running copy's record is its own to keep, whatever its size.
        const std::unique_ptr<QLockFile> lock = takeLock(file.absoluteFilePath());
        if (!lock)
            continue;
        if (QFile::remove(file.absoluteFilePath()))
            removed << file.fileName();
    }
    return removed;
}
