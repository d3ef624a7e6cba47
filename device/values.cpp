// Typed values turned into register values, and the groups of an address text.

#include "device/values.h"

#include <QRegularExpression>

namespace {

constexpr int kRegisterMax = 0xFFFF;
constexpr int kRegisterDigits = 5;       // 65535
constexpr qint64 kFarExponent = 1000000; // far beyond the digits a line edit can hold
constexpr int kMacGroupCount = 6;

RegisterValue result(RegisterValue::Status status, quint16 value = 0)
{
    RegisterValue v;
    v.status = status;
    v.value = value;
    return v;
}

} // namespace

// The register holds the value times 10^xsws as an integer. Scaling goes on
// the typed digits, not on a binary float: 57.6 is not exact in binary, and
// 57.6 * 10 computed in floating point can land just below 576. Shifting the
// decimal point by xsws places is exact for every text the engineer can
// type; the digits that remain behind the point are finer than the register
// resolves and are dropped (57.6 with no decimal places writes 57).
RegisterValue scaledThreshold(const QString &text, int xsws)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        return result(RegisterValue::Empty);

    // What a double would read, without the spellings of infinity and NaN.
    static const QRegularExpression decimal(
        QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?(?:[eE]([+-]?[0-9]+))?$"));
    const QRegularExpressionMatch m = decimal.match(typed);
    if (!m.hasMatch() || (m.capturedLength(2) == 0 && m.capturedLength(3) == 0))
        return result(RegisterValue::NotANumber);

    const QString digits = m.captured(2) + m.captured(3);
    // Index in digits before which the scaled value's integer part ends.
    qint64 point = m.capturedLength(2) + qint64(xsws);
    if (m.capturedLength(4) > 0) {
        bool ok = false;
        const qint64 exponent = m.captured(4).toLongLong(&ok);
        if (ok)
            point += qBound(-kFarExponent, exponent, kFarExponent);
        else
            point += m.captured(4).startsWith(QLatin1Char('-')) ? -kFarExponent : kFarExponent;
    }

    int first = 0; // the first significant digit
    while (first < digits.size() && digits.at(first) == QLatin1Char('0'))
        ++first;
    if (first == digits.size())
        return result(RegisterValue::Ok, 0); // zero, in any spelling
    if (m.captured(1) == QLatin1String("-"))
        return result(RegisterValue::OutOfRange); // a threshold below zero has no register form

    const qint64 wholeDigits = point - first;
    if (wholeDigits <= 0)
        return result(RegisterValue::Ok, 0); // all of it finer than the register resolves
    if (wholeDigits > kRegisterDigits)
        return result(RegisterValue::OutOfRange);
    int value = 0;
    for (qint64 i = first; i < point; ++i)
        value = value * 10 + (i < digits.size() ? digits.at(int(i)).digitValue() : 0);
    if (value > kRegisterMax)
        return result(RegisterValue::OutOfRange);
    return result(RegisterValue::Ok, quint16(value));
}

RegisterValue windowValue(const QString &text, int maxValue)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        return result(RegisterValue::Empty);
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(typed).hasMatch())
        return result(RegisterValue::NotANumber);
    bool ok = false;
    const qlonglong v = typed.toLongLong(&ok, 10);
    // The unit takes an hour of 25 as readily as 8 and never switches at it.
    if (!ok || v < 0 || v > maxValue)
        return result(RegisterValue::OutOfRange);
    return result(RegisterValue::Ok, quint16(v));
}

QStringList macGroups(const QString &text)
{
    QStringList groups;
    for (int i = 0; i < kMacGroupCount; ++i)
        groups << text.mid(3 * i, 2);
    return groups;
}

bool parseClockText(const QString &text, ClockFields *fields)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\s*([0-9]{1,4})-([0-9]{1,2})-([0-9]{1,2})"
                       "\\s+([0-9]{1,2}):([0-9]{1,2}):([0-9]{1,2})\\s*$"));
    const QRegularExpressionMatch m = stamp.match(text);
    if (!m.hasMatch())
        return false;
    fields->year = m.captured(1).toInt();
    fields->month = m.captured(2).toInt();
    fields->day = m.captured(3).toInt();
    fields->hour = m.captured(4).toInt();
    fields->minute = m.captured(5).toInt();
    fields->second = m.captured(6).toInt();
    return true;
}

void clockBlock(const ClockFields &fields, unsigned char block[8])
{
    const quint16 year = quint16(fields.year);
    block[0] = static_cast<unsigned char>(year >> 8);
    block[1] = static_cast<unsigned char>(year & 0xFF);
    block[2] = static_cast<unsigned char>(fields.month);
    block[3] = static_cast<unsigned char>(fields.day);
    block[4] = static_cast<unsigned char>(fields.hour);
    block[5] = static_cast<unsigned char>(fields.minute);
    block[6] = static_cast<unsigned char>(fields.second);
    block[7] = 0;
}
