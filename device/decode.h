#pragma once

// How a read reply becomes text, by the entry's type.

#include <QDateTime>
#include <QString>

struct DeviceEntry;

// bytes points at the reply's byte count (reply byte 2); available is how many
// bytes from there actually arrived. Only those are read.
QString decodeReply(const DeviceEntry &entry, const unsigned char *bytes, int available);

// The same replies as values, for a check against limits (bytes and
// available as above). False when the reply holds no such value.
// An integer entry's value with its decimal places applied, or a double entry's.
bool decodeNumber(const DeviceEntry &entry, const unsigned char *bytes, int available,
                  double *value);
// The first register, as a status word.
bool decodeFirstRegister(const unsigned char *bytes, int available, quint16 *value);
// The clock block as a wall time; invalid when it is no date and time.
QDateTime decodeClock(const unsigned char *bytes, int available);

// "\n\t合闸" and the like for switch state value; empty for an unknown value.
QString switchStateText(int value);
// The texts of the protection flags set in w, each as "\n\t<text>".
QString protectionFlagTexts(quint16 w);
