#pragma once

// What the engineer types, turned into register values; and the MAC address
// arithmetic of provisioning. Each refuses what it cannot write truthfully.

#include <QString>
#include <QStringList>
#include <QtGlobal>

struct RegisterValue
{
    enum Status { Ok, Empty, NotANumber, OutOfRange };
    Status status = Ok;
    quint16 value = 0;
};

// A threshold with xsws decimal places: rounded to the nearest integer, 0..65535.
RegisterValue scaledThreshold(const QString &text, int xsws);
// An hour or minute: an integer that fits in 16 bits (negative as two's complement).
RegisterValue windowValue(const QString &text);

// The six groups of a MAC address text at positions 0, 3, 6, 9, 12, 15.
QStringList macGroups(const QString &text);

struct MacStep
{
    bool valid = false;       // all six groups are two hexadecimal digits
    bool blockUsedUp = false; // groups 4 to 6 were FF:FF:FF: no next address
    unsigned char bytes[6] = {};
    QStringList nextGroups;   // groups 4 to 6 advanced, lower-case; 1 to 3 as typed
};

MacStep macAdvance(const QString &text, int step = 1);
