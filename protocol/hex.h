#pragma once

// Hexadecimal text as the tool shows and reads it: requests upper-case with a
// blank after every byte, replies lower-case the same way, and the console's
// conversion of a send line into bytes.

#include <QByteArray>
#include <QString>

// "55 03 07 04 00 01 C9 6B " — upper-case, a blank after every byte.
QString hexRequestText(const unsigned char *bytes, int length);
// "55 03 02 00 00 ..." — lower-case, a blank after every byte.
QString hexReplyText(const unsigned char *bytes, int length);

// A send line turned into the bytes to transmit and the text to log.
struct SendConversion
{
    bool ok = true; // false: a hexadecimal piece did not convert
    QByteArray bytes;
    QString display;
};

SendConversion convertSendText(const QString &text, bool hexMode);
