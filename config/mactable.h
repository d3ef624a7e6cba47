#pragma once

// The serial-number to MAC-address table read from mac.csv.

#include <QIODevice>
#include <QString>
#include <QStringList>

struct MacTable
{
    QStringList snList;
    QStringList macList;
    QStringList lines; // what the traffic window shows, in file order
};

// Reads the rows of an open device. Rows with fewer than two fields are not
// loaded; a line naming each goes into lines.
MacTable readMacTable(QIODevice &device);

// Index of the first row whose serial number equals sn exactly, or -1.
int findSerialNumber(const QStringList &snList, const QString &sn);
