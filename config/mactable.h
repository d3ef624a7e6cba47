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

// Reads the rows of an open device (opened without text mode: lines may end in
// LF, CR LF or a lone CR). Loaded rows are numbered from 1 in "%1=>%2[%3]";
// lines with fewer than two fields, a serial number above 64 characters or an
// address above 64 (trailing blanks not counted, and not kept) are not loaded, and a line
// naming each by its line number goes into lines. A CR before a line's LF
// (CR CR LF from a file converted twice) is part of the line end. After the
// rows, one line for each serial number listed again with another address
// and each address listed again for another serial number, naming both
// lines (the first row wins). A file in UTF-16 without a byte-order mark is
// read as such, and said so first.
MacTable readMacTable(QIODevice &device);

// Whether two address texts are the same address as written: letter case and
// trailing blanks aside.
bool sameMacText(const QString &a, const QString &b);

// Index of the first row whose serial number equals sn exactly, or -1.
int findSerialNumber(const QStringList &snList, const QString &sn);
