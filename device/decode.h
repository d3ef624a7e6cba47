#pragma once

// How a read reply becomes text, by the entry's type.

#include <QString>

struct DeviceEntry;

// bytes points at the reply's byte count (reply byte 2); available is how many
// bytes from there actually arrived. Only those are read.
QString decodeReply(const DeviceEntry &entry, const unsigned char *bytes, int available);

// "\n\t合闸" and the like for switch state value; empty for an unknown value.
QString switchStateText(int value);
// The texts of the protection flags set in w, each as "\n\t<text>".
QString protectionFlagTexts(quint16 w);
