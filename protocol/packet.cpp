// The "~" service packets: building a request, parsing a reply, judging it.
#include "protocol/packet.h"

#include "protocol/reply.h" // checkServiceReply

#include <cstdio>
#include <cstring>
#include <iterator>

ServicePacket send_packet;
unsigned char send_buf[kSendBufSize];
int send_len = 0;

namespace {

constexpr unsigned char kSoi = '~';
constexpr unsigned char kEoi = '\r';
constexpr int kFrameOverheadChars = 18; // "~", VER..LENGTH (12), CHKSUM (4), CR

const char kHexDigits[] = "0123456789ABCDEF";

// Upper-case digits only, as the protocol writes them: any other character,
// a lower-case letter included, reads as 0, and the checksum, taken over the
// characters as received, then tells that something was off.
int nibbleValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

quint8 decodedByte(const unsigned char *pair)
{
    return quint8((nibbleValue(pair[0]) << 4) | nibbleValue(pair[1]));
}

// LENID counts the INFO characters; LCHKSUM makes its three nibbles sum to 0 mod 16.
quint16 lengthField(int infoBytes)
{
    const int lenid = (2 * infoBytes) & 0x0FFF;
    const int nibbleSum = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF);
    return quint16(((-nibbleSum & 0xF) << 12) | lenid);
}

// Where a parse looks: from the first "~" (or the start) to the last CR,
// never taking index 0 as the end. False when there is no such span.
bool findSpan(const unsigned char *in, int in_len, int *start, int *end)
{
    const void *soi = in_len > 0 ? std::memchr(in, kSoi, size_t(in_len)) : nullptr;
    *start = soi ? int(static_cast<const unsigned char *>(soi) - in) : 0;
    *end = 0;
    for (int i = in_len - 1; i >= 1; --i) {
        if (in[i] == kEoi) {
            *end = i;
            break;
        }
    }
    return *start < *end;
}

// Both checksums of a span. The computed one is 0x10000 minus the character
// sum, deliberately not reduced: a span too short to hold a checksum sums
// nothing and gives 0x10000, which no received value can equal.
struct SpanChecksums
{
    qint64 computed;
    int received;
};

SpanChecksums spanChecksums(const unsigned char *in, int start, int end)
{
    SpanChecksums sums;
    qint64 sum = 0;
    for (int i = start + 1; i <= end - 5; ++i)
        sum += in[i];
    sums.computed = 0x10000 - sum;

    // The last two decoded bytes; with fewer decoded, what there is.
    const int decoded = (end - start) / 2;
    if (decoded >= 2)
        sums.received = (decodedByte(in + start + 2 * decoded - 3) << 8)
                        | decodedByte(in + start + 2 * decoded - 1);
    else if (decoded == 1)
        sums.received = decodedByte(in + start + 1);
    else
        sums.received = 0;
    return sums;
}

} // namespace

int get_dz_wr_pak(int command, const unsigned char *data, unsigned length)
{
    std::memset(&send_packet, 0, sizeof send_packet);
    send_packet.ver = kPacketVer;
    send_packet.adr = kPacketAdr;
    send_packet.cid1 = kPacketCid1;
    send_packet.cid2 = quint8(command);
    send_packet.len = quint16(length);
    std::printf("[%s:%d]: send_packet.len = %d\n\r", "get_dz_wr_pak", 370, send_packet.len);
    std::fflush(stdout);

    // A block the record cannot hold is not copied; the encoder then refuses it.
    if (data && send_packet.len > 0 && send_packet.len <= kPacketDataSize)
        std::memcpy(send_packet.data, data, send_packet.len);

    send_len = 0;
    std::memset(send_buf, 0, sizeof send_buf);
    packet_encode(&send_packet, send_buf, kSendBufSize, &send_len);
    return 0;
}

int packet_encode(const ServicePacket *record, unsigned char *out, int out_cap, int *out_len)
{
    *out_len = 0;
    const int infoBytes = record->len;
    if (infoBytes > kPacketDataSize || 2 * infoBytes + kFrameOverheadChars > out_cap)
        return -1;

    const quint16 length = lengthField(infoBytes);
    int pos = 0;
    unsigned sum = 0;
    auto putByte = [&](quint8 byte) {
        const unsigned char high = kHexDigits[byte >> 4];
        const unsigned char low = kHexDigits[byte & 0xF];
        out[pos++] = high;
        out[pos++] = low;
        sum += high + low;
    };

    out[pos++] = kSoi;
    putByte(record->ver);
    putByte(record->adr);
    putByte(record->cid1);
    putByte(record->cid2);
    putByte(quint8(length >> 8));
    putByte(quint8(length));
    for (int i = 0; i < infoBytes; ++i)
        putByte(record->data[i]);

    // Taken before its own four characters go out: they are not part of the sum.
    const quint16 chksum = quint16(0x10000 - (sum & 0xFFFF));
    putByte(quint8(chksum >> 8));
    putByte(quint8(chksum));
    out[pos++] = kEoi;
    *out_len = pos;
    return 0;
}

int packet_parse(const unsigned char *in, int in_len, unsigned char *out, int out_cap, int *out_len)
{
    int start = 0;
    int end = 0;
    if (!findSpan(in, in_len, &start, &end))
        return 0;

    const int decoded = (end - start) / 2;
    if (decoded + 2 > out_cap)
        return 0;

    out[0] = in[start];
    for (int i = 1; i <= decoded; ++i)
        out[i] = decodedByte(in + start + 2 * i - 1);
    out[decoded + 1] = kEoi;
    *out_len = decoded + 2;

    const SpanChecksums sums = spanChecksums(in, start, end);
    if (sums.computed == sums.received)
        return 1;
    std::printf("[%s:%d]: calc_chksum:%x not equ recv_chksum:%x error,inLen:%d outlen:%d!!!\r\n",
                "packet_parse", 205, unsigned(sums.computed), unsigned(sums.received), in_len,
                *out_len);
    std::fflush(stdout);
    return 0;
}

ReplyState checkServiceReply(const unsigned char *bytes, int length)
{
    // Until a CR follows a "~" the frame may still be on its way.
    const void *soi = length > 0 ? std::memchr(bytes, kSoi, size_t(length)) : nullptr;
    if (!soi)
        return ReplyState::Incomplete;
    int start = 0;
    int end = 0;
    if (!findSpan(bytes, length, &start, &end))
        return ReplyState::Incomplete;
    const SpanChecksums sums = spanChecksums(bytes, start, end);
    return sums.computed == sums.received ? ReplyState::Answer : ReplyState::Invalid;
}

QString returnCodeText(quint8 code)
{
    static const char *const names[]
        = {"正常", "VER错", "CHKSUM错", "LCHKSUM错", "CID2无效", "命令格式错", "无效数据"};
    if (code < std::size(names))
        return QString::asprintf("%02X ", code) + QString::fromUtf8(names[code]);
    return QString::asprintf("%02X", code);
}
