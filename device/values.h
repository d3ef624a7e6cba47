#pragma once

// What the engineer types, turned into register values; the groups of a MAC
// address text (the rules of addresses are in device/macaddress.h). Each
// refuses what it cannot write truthfully.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

struct RegisterValue
{
    enum Status { Ok, Empty, NotANumber, OutOfRange };
    Status status = Ok;
    quint16 value = 0;
};

// A threshold with xsws decimal places as the register holds it, 0..65535.
// The typed decimal is scaled exactly; digits finer than the register's
// resolution are dropped (57.6 with one place is 576, with none 57).
RegisterValue scaledThreshold(const QString &text, int xsws);
// An hour or minute of a time window: an integer from 0 to maxValue (23 for
// an hour, 59 for a minute).
RegisterValue windowValue(const QString &text, int maxValue);

// The six groups of a MAC address text at positions 0, 3, 6, 9, 12, 15.
QStringList macGroups(const QString &text);

// A service reply as judged: only Ok carries INFO that can be trusted.
struct ServiceReply
{
    enum Status { NoReply, NoPacket, BadChecksum, Incomplete, DeviceError, Ok };
    Status status = NoReply;
    quint8 returnCode = 0;
    QByteArray info;
};

// The computer's time as the clock block carries it.
struct ClockFields
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "2026-12-06 04:05:09" (leading zeros optional) into its six numbers.
bool parseClockText(const QString &text, ClockFields *fields);
// The four clock registers in wire order: year high, year low, month, day,
// hour, minute, second, 0.
void clockBlock(const ClockFields &fields, unsigned char block[8]);
