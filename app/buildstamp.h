#pragma once

#include <QString>

// The compiler's "Nov  7 2024" and "09:29:33" as "2024-11-07 09:29:33".
QString buildTimeStamp(const char *date, const char *time);
// "<title>_[<stamp>]"
QString titleWithBuildStamp(const QString &title, const char *date, const char *time);
