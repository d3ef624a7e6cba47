// Standard output and standard error of feederbench-cli.

#include "cli/console.h"

#include <QJsonDocument>

#include <cstdio>
#include <fcntl.h>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

FILE *results = stdout;

#ifdef Q_OS_WIN
int duplicate(int fd)
{
    return _dup(fd);
}
int replace(int from, int to)
{
    return _dup2(from, to);
}
int openNull()
{
    return _open("NUL", _O_WRONLY);
}
FILE *streamOf(int fd)
{
    return _fdopen(fd, "w");
}
void closeFd(int fd)
{
    _close(fd);
}
#else
int duplicate(int fd)
{
    return ::dup(fd);
}
int replace(int from, int to)
{
    return ::dup2(from, to);
}
int openNull()
{
    return ::open("/dev/null", O_WRONLY);
}
FILE *streamOf(int fd)
{
    return ::fdopen(fd, "w");
}
void closeFd(int fd)
{
    ::close(fd);
}
#endif

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void setAsideStandardOutput(bool diagnosticsToStandardError)
{
    std::fflush(stdout);
    const int kept = duplicate(fileno(stdout));
    FILE *stream = kept >= 0 ? streamOf(kept) : nullptr;
    if (!stream)
        return; // the results and the diagnostics then share standard output
    results = stream;
    if (diagnosticsToStandardError) {
        replace(fileno(stderr), fileno(stdout));
        return;
    }
    const int null = openNull();
    if (null >= 0) {
        replace(null, fileno(stdout));
        closeFd(null);
    }
}

void printOut(const QString &text)
{
    print(results, text);
}

void printErr(const QString &text)
{
    print(stderr, text);
}

void printJson(const QJsonObject &document)
{
    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), results);
    std::fflush(results);
}

void ConsoleSink::resultLine(const QString &line, Tone tone)
{
    Q_UNUSED(tone) // the words say it; a pipe has no colours
    m_lines << line;
    if (m_printLines)
        printOut(line);
}
