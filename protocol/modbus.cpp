// Placeholder until its issue is built.
#include "protocol/modbus.h"
unsigned char requestFrame[kFrameBufferSize];
quint16 modbus_crc16(const unsigned char *, int) { return 0xFFFF; }
quint16 moduleRegister(int module, quint16 base) { return quint16((module << 12) | base); }
int make_read_frame(unsigned char *, quint8, quint16, quint16) { return 8; }
int make_write_single_frame(quint8, quint16, quint16) { return 8; }
int make_write_multi_frame(quint8, quint16, quint16, int, const unsigned char *) { return 0; }
ReplyState checkModbusReply(const unsigned char *, int, quint8, quint8) { return ReplyState::Invalid; }
ReplyState checkReply(const ReplyKind &, const unsigned char *, int) { return ReplyState::Incomplete; }
ReplyVerdict judgeReply(const ReplyKind &, const unsigned char *, int) { return {}; }
QString exceptionText(quint8) { return {}; }
