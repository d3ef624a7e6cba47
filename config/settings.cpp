// Access to config.ini: one value per call, read afresh every time.

#include "config/settings.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTextCodec>
#include <QVariant>

namespace {

constexpr int kMissingInt = 10; // what a missing integer reads as, not 0

QString &configFileName()
{
    static QString name = QStringLiteral("config.ini"); // in the working directory
    return name;
}

QString keyPath(const QString &group, const QString &key)
{
    return QLatin1Char('/') + group + QLatin1Char('/') + key;
}

// Each access opens its own settings object, so an edit of the file between
// two reads is seen by the second. QSettings keeps a parsed file by path and
// parses it again only when its size or modification time has changed, which
// keeps these repeated opens cheap. Its INI reader skips a UTF-8 byte-order
// mark in front of the first section.
QVariant readValue(const QString &group, const QString &key)
{
    QSettings settings(configFileName(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(keyPath(group, key));
}

// The INI format reads an unquoted comma as a list separator: "a,b" comes back
// as two strings. The comma belongs to the value as the file holds it.
QString valueText(const QVariant &value)
{
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace

void set_config_file(const QString &path)
{
    configFileName() = path;
}

QString config_file()
{
    return configFileName();
}

QString read_config_string(const QString &group, const QString &key)
{
    return valueText(readValue(group, key));
}

int read_config_int(const QString &group, const QString &key)
{
    const QVariant value = readValue(group, key);
    if (!value.isValid())
        return kMissingInt;
    // QVariant's own conversion truncates out-of-range numbers instead of failing.
    bool isNumber = false;
    const int number = valueText(value).toInt(&isNumber);
    return isNumber ? number : 0;
}

QStringList read_config_keys(const QString &group)
{
    QSettings settings(configFileName(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.beginGroup(group);
    return settings.childKeys();
}

void write_config_value(const QString &group, const QString &key, const QString &text)
{
    QSettings settings(configFileName(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.setValue(keyPath(group, key), text);
}

bool config_file_is_utf8()
{
    QFile file(configFileName());
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray bytes = file.readAll();
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}
