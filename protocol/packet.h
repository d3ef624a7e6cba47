#pragma once

// The unit's ASCII-framed service packets: "~", every byte as two hexadecimal
// characters, a length with its own 4-bit check, a 16-bit checksum over the
// characters, and a carriage return.

#include <QString>
#include <QtGlobal>

constexpr quint8 kPacketVer = 0x21;
constexpr quint8 kPacketAdr = 0x01;
constexpr quint8 kPacketCid1 = 0x56;
constexpr quint8 kCmdFactoryDefaults = 0x97;
constexpr quint8 kCmdReadMac = 0x98;
constexpr quint8 kCmdWriteMac = 0x99;
constexpr int kPacketDataSize = 1024;
constexpr int kSendBufSize = 1530;

struct ServicePacket
{
    quint8 ver;
    quint8 adr;
    quint8 cid1;
    quint8 cid2;
    quint16 len;
    quint8 data[kPacketDataSize];
};

extern ServicePacket send_packet;
extern unsigned char send_buf[kSendBufSize];
extern int send_len;

// Builds a request for command (low 8 bits) with length data bytes (low 16
// bits) into send_buf/send_len. Returns 0. A request that would not fit
// send_buf builds an empty send_buf (send_len 0).
int get_dz_wr_pak(int command, const unsigned char *data, unsigned length);

// Encodes record into out (capacity out_cap) and stores the character count.
// Returns 0, or -1 when the frame would not fit (then *out_len is 0).
int packet_encode(const ServicePacket *record, unsigned char *out, int out_cap, int *out_len);

// Parses the span from the first "~" to the last carriage return of in into
// out: the "~", the decoded bytes and a carriage return. Returns 1 when the
// checksum agrees, 0 otherwise. *out_len is written whenever a span was found
// and fits into out_cap; a span that does not fit fails without writing.
int packet_parse(const unsigned char *in, int in_len, unsigned char *out, int out_cap,
                 int *out_len);

// Meaning of the return code in a reply's fourth byte: "01 VER错" and so on.
QString returnCodeText(quint8 code);
