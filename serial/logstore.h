#pragma once

// Where the lines of the message windows are kept: all of a window's lines
// since it was last cleared (for saving), and the session record on disk,
// which keeps every line of the run whatever is cleared, closed or killed.
// Qt Core only: no window needed to use or test them.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLockFile;
class QTemporaryFile;

// A window shows its text in paragraphs and saves them joined by line feeds:
// the pieces between line breaks (CR, LF, CR LF, U+2028, U+2029) are its lines.
QStringList splitIntoLines(const QString &text);

// The lines of one message window, oldest first. The newest stay in memory up
// to memoryBytes; older ones move to a temporary file, so a session of a
// million lines costs a few megabytes. Nothing is dropped: when the temporary
// file cannot be written, the lines stay in memory.
class LineStore
{
public:
    static constexpr qint64 kDefaultMemoryBytes = 2 * 1024 * 1024;

    explicit LineStore(qint64 memoryBytes = kDefaultMemoryBytes);
    ~LineStore();
    LineStore(const LineStore &) = delete;
    LineStore &operator=(const LineStore &) = delete;

    void append(const QString &line); // one line: no line break in it
    void clear();

    qint64 lineCount() const { return m_spilledLines + m_recent.size(); }
    // As the window's plain text would be: no line, or one empty line.
    bool isEmpty() const { return m_textChars + qMax<qint64>(0, lineCount() - 1) == 0; }
    // Calls visit with every line in order until it returns false. False when
    // visit stopped it or the older lines could not be read back.
    bool forEachLine(const std::function<bool(const QString &)> &visit);

private:
    void spill();

    qint64 m_memoryBytes;
    QStringList m_recent;
    qint64 m_recentBytes = 0;
    std::unique_ptr<QTemporaryFile> m_spill;
    qint64 m_spilledLines = 0;
    qint64 m_textChars = 0;
    bool m_spillFailed = false; // then everything stays in memory
};

// Saving the lines to a file the engineer chose, one per line, in text mode
// and the system's encoding: replaced as a whole through a temporary file
// where that works, so a failed save never leaves a truncated log behind;
// written in place where it must be (a hard-linked or special file, a folder
// that takes no new files).
struct SaveResult
{
    enum Outcome { Saved, OpenFailed, WriteFailed };
    Outcome outcome = Saved;
    QString errorText; // the system's reason
};
SaveResult saveLines(const QString &fileName, LineStore &lines);

// The record of one run: every line of both windows in the order they were
// added, each marked with where it came from ("报文" traffic, "结果" results,
// "串口" the port opened, closed or lost), the time it came and a tab
// between each, UTF-8. Lines wait in memory until flush(), which hands them
// to the system in one write; a killed process loses only what waited.
//
// Each running copy of the program holds a lock on its record (a QLockFile
// beside it, "….txt.lock"), so no other copy writes into it or prunes it.
class SessionRecord
{
public:
    enum Window { Traffic, Results, Port };

    SessionRecord();
    ~SessionRecord();
    SessionRecord(const SessionRecord &) = delete;
    SessionRecord &operator=(const SessionRecord &) = delete;

    // Creates folder if needed and a new file in it named after start, one
    // that no other copy holds: two copies started in the same second get a
    // file each.
    bool open(const QString &folder, const QDateTime &start);
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    // The clock that stamps each line; the computer's by default.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    void append(Window window, const QString &line);
    // False when a write fails: the batch is lost (the file is cut back to
    // whole lines) and onFailure is told once with the system's reason; the
    // next batch tries again, and once one is written onResumed is told how
    // many lines are missing.
    bool flush();
    void setFailureHandler(std::function<void(const QString &)> onFailure)
    {
        m_onFailure = std::move(onFailure);
    }
    void setResumeHandler(std::function<void(qint64 missingLines)> onResumed)
    {
        m_onResumed = std::move(onResumed);
    }

private:
    std::function<void(const QString &)> m_onFailure;
    std::function<void(qint64)> m_onResumed;
    std::function<QDateTime()> m_clock;
    QFile m_file;
    std::unique_ptr<QLockFile> m_lock;
    QByteArray m_pending;
    qint64 m_pendingLines = 0;
    qint64 m_missingLines = 0; // lost since the first failed write
    bool m_failing = false;
    QString m_error;
};

// The folder of the session records: "sessions" in the application's data folder.
QString sessionFolder();
// "2026-12-07_10-30-00.txt"
QString sessionFileName(const QDateTime &start);

// Removes old session records from folder, oldest first: those last written
// more than keepDays before now, and those beyond keepBytes counted from the
// newest. The running record, and every record another running copy holds
// locked, count but are never removed; files not named like a session record
// are left alone. Returns the names removed.
constexpr int kKeepSessionDays = 30;
constexpr qint64 kKeepSessionBytes = 500LL * 1024 * 1024;
QStringList pruneSessionRecords(const QString &folder, const QDateTime &now, const QString &running,
                                int keepDays = kKeepSessionDays,
                                qint64 keepBytes = kKeepSessionBytes);
