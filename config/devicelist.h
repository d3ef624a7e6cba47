#pragma once

// The registers the tool knows how to read, as config.ini lists them.

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

constexpr int kDeviceTableSize = 50;

// An entry's "type": what it is, and for a readable entry how its reply is
// shown (device/decode.cpp). Types 2, 5, 6 and 7 are read and show nothing.
enum EntryType : int {
    kEntryTypeInteger = 0,    // signed, divided by 10 to the power xsws
    kEntryTypeDouble = 1,     // a 64-bit IEEE-754 double
    kEntryTypeHexBytes = 3,   // the data bytes in hexadecimal
    kEntryTypeStatusBits = 4, // the first register as sixteen bits
    kEntryTypeDateTime = 8,   // the clock block; the last readable type
    kGroupEndType = 9,        // ends the group's list, not shown
    kGroupHeaderType = 10,    // this type and above: a group of the tree
};

struct DeviceEntry
{
    QString des;      // display name
    QString reg;      // the register text as read
    quint16 base = 0; // the same text parsed as hexadecimal
    int type = 0;
    int regnum = 0;
    int xsws = 0; // decimal places
};

extern DeviceEntry deviceTable[kDeviceTableSize];
// The "count" of config.ini, held within 0 and kDeviceTableSize.
extern int deviceCount;

// Loads deviceCount and the entries from config.ini in the working directory.
// Returns the lines to show in the traffic window (a file not in UTF-8, format
// errors, surplus entries ignored). A "reg" that is not hexadecimal stops the
// load there: that entry gets only its reg text and register 0, later entries
// keep their contents.
QStringList load_device_list();

// The first of all 50 entries whose base register is base, or -1.
int findEntryByRegister(quint16 base);

// A group of the test tree: its header entry and the entries under it.
struct DeviceGroup
{
    int header;
    QVector<int> entries;
};
// The loaded list as the test tree shows it, in list order: each header
// (type 10 and above) with the entries after it, up to a type-9 entry or the
// next header. Entries before the first header, and those after a type-9
// entry up to the next header, belong to no group and are never read.
QVector<DeviceGroup> deviceGroups();
