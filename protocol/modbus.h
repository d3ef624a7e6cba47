#pragma once

// Modbus-RTU as the distribution unit speaks it: the request frames the tool
// builds, their CRC, the register address that carries the module number and
// the texts of exception codes. Whether bytes are a reply: protocol/reply.h.

#include <QString>
#include <QtGlobal>

constexpr quint8 kBusAddress = 0x55; // every module answers at bus address 85
constexpr quint8 kReadHoldingRegisters = 0x03;
constexpr quint8 kWriteSingleRegister = 0x06;
constexpr quint8 kWriteMultipleRegisters = 0x10;
constexpr int kFrameBufferSize = 256;
constexpr int kMaxMultiDataBytes = 246; // 9 + 246 = 255 bytes, the most one CRC run covers

// The write builders fill this buffer; it holds one request at a time.
extern unsigned char requestFrame[kFrameBufferSize];

// CRC-16/MODBUS of length bytes (0 to 255): low byte goes first on the wire.
quint16 modbus_crc16(const unsigned char *bytes, int length);

// Register address of a base register on a module: the module number sits in
// the top four bits. Only the low 16 bits of the result are kept.
quint16 moduleRegister(int module, quint16 base);

// Function 03 into frame (at least 8 bytes); returns 8.
int make_read_frame(unsigned char *frame, quint8 address, quint16 start, quint16 count);
// Function 06 into requestFrame; returns 8.
int make_write_single_frame(quint8 address, quint16 reg, quint16 value);
// Function 10h into requestFrame; returns n + 9, or 0 (nothing built) for n
// above kMaxMultiDataBytes or below 0.
int make_write_multi_frame(quint8 address, quint16 start, quint16 count, int n,
                           const unsigned char *data);

// "02 非法数据地址" and the like; an unknown code shows as its number alone.
QString exceptionText(quint8 code);
