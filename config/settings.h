#pragma once

// One value of config.ini per call; nothing is cached between calls.

#include <QString>

QString read_config_string(const QString &group, const QString &key);
// A missing key (or file) reads as 10; text that is not an integer as 0.
int read_config_int(const QString &group, const QString &key);
void write_config_value(const QString &group, const QString &key, const QString &text);
