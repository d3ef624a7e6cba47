#pragma once

// One value of config.ini per call; nothing is cached between calls.

#include <QString>
#include <QStringList>

// The file every call reads: "config.ini" in the working directory unless a
// front end names another (the command line's --config).
void set_config_file(const QString &path);
QString config_file();

QString read_config_string(const QString &group, const QString &key);
// A missing key (or file) reads as 10; text that is not an integer as 0.
int read_config_int(const QString &group, const QString &key);
// The keys of a section as the file holds them (none for a missing section).
QStringList read_config_keys(const QString &group);
void write_config_value(const QString &group, const QString &key, const QString &text);
// False when config.ini holds bytes that are not UTF-8 (a file saved as GBK,
// say); true when it is UTF-8 or absent.
bool config_file_is_utf8();
