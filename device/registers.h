#pragma once

// The unit's register map: every base register the tool reads or writes on
// its own, one line each. A module's address for a base register is
// moduleRegister(module, base) (protocol/modbus.h); the further registers the
// engineer reads come from config.ini's device list. The simulated unit in
// tools/pduunit.cpp keeps its own copy of this map on purpose.

#include <QtGlobal>

// Status, read with 03
constexpr quint16 kSwitchStateRegister = 0x0704;     // 0 closed, 1..5 opened (the cause)
constexpr quint16 kProtectionFlagsRegister = 0x070F; // bits 0..5 (device/decode.cpp)

// Commands and enables, written with 06
constexpr quint16 kRemoteEnableRegister = 0x0801;      // remote close and open allowed
constexpr quint16 kCloseRegister = 0x0802;             // close the breaker: kCloseValue
constexpr quint16 kOpenRegister = 0x0803;              // open the breaker: kOpenValue
constexpr quint16 kDisconnectEnableRegister = 0x0804;  // low-voltage disconnect
constexpr quint16 kTimeControlEnableRegister = 0x0807; // time-period control

// Thresholds and time windows, written with 06 and read with 03
constexpr quint16 kLowVoltageCutRegister = 0x0805; // low-voltage disconnect value, scaled
constexpr quint16 kReconnectRegister = 0x0806;     // low-voltage reconnect value, scaled
constexpr quint16 kWindow1HourRegister = 0x0808;   // time window 1: hour
constexpr quint16 kWindow1MinuteRegister = 0x0809; //                minute
constexpr quint16 kWindow2HourRegister = 0x080A;   // time window 2: hour
constexpr quint16 kWindow2MinuteRegister = 0x080B; //                minute
constexpr quint16 kWindow3HourRegister = 0x080C;   // time window 3: hour
constexpr quint16 kWindow3MinuteRegister = 0x080D; //                minute
constexpr quint16 kOverCurrentRegister = 0x080E;   // over-current threshold, scaled

// The clock, written as one block with 10h and read with 03
constexpr quint16 kClockRegister = 0x080F;                // year, month day, hour minute, second 0
constexpr quint16 kClockRegisterCount = 4;                // the unit refuses a partial block
constexpr int kClockBlockBytes = 2 * kClockRegisterCount; // 8

// The values the switch commands write
constexpr quint16 kCloseValue = 0;   // to kCloseRegister
constexpr quint16 kOpenValue = 1;    // to kOpenRegister
constexpr quint16 kEnableValue = 1;  // to an enable register: on
constexpr quint16 kDisableValue = 0; // and off
