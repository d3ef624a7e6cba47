// The build time stamp of the window title.

#include "app/buildstamp.h"

#include <QDateTime>
#include <QLocale>

QString buildTimeStamp(const char *date, const char *time)
{
    // The compiler pads a one-digit day with a blank ("Nov  7 2024"); a zero in
    // its place lets the fixed "dd" format read it.
    QString text = QString::fromLatin1(date) + QString::fromLatin1(time);
    text.replace(QStringLiteral("  "), QStringLiteral(" 0"));
    const QDateTime when = QLocale(QLocale::English, QLocale::AnyCountry)
                               .toDateTime(text, QStringLiteral("MMM dd yyyyhh:mm:ss"));
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString titleWithBuildStamp(const QString &title, const char *date, const char *time)
{
    return QStringLiteral("%1_[%2]").arg(title, buildTimeStamp(date, time));
}
