// Placeholder until its issue is built.
#include "protocol/packet.h"
ServicePacket send_packet;
unsigned char send_buf[kSendBufSize];
int send_len = 0;
int get_dz_wr_pak(int, const unsigned char *, unsigned) { return 0; }
int packet_encode(const ServicePacket *, unsigned char *, int, int *) { return 0; }
int packet_parse(const unsigned char *, int, unsigned char *, int, int *) { return 0; }
ReplyState checkServiceReply(const unsigned char *, int) { return ReplyState::Incomplete; }
QString returnCodeText(quint8) { return {}; }
