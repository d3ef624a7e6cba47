// Standard output and standard error of feederbench-cli.

#include "cli/console.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void printOut(const QString &text)
{
    print(stdout, text);
}

void printErr(const QString &text)
{
    print(stderr, text);
}

void printJson(const QJsonObject &document)
{
    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void ConsoleSink::resultLine(const QString &line, Tone tone)
{
    Q_UNUSED(tone) // the words say it; a pipe has no colours
    m_lines << line;
    if (m_printLines)
        printOut(line);
}
