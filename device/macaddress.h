#pragma once

// MAC addresses as the line gives them out: the text people type, paste or
// keep in mac.csv, and the block of addresses that is the line's to give.
// Whether an address may go to a unit at all is decided here, once, for the
// window, a test plan and the command line alike. Qt Core only.

#include <QString>
#include <QtGlobal>

constexpr quint64 kMacMax = 0xFFFFFFFFFFFFULL; // 48 bits

// Twelve hexadecimal digits, either case, in six groups of two separated by
// ':' or by '-', or without separators; blanks around the text are ignored.
// False for anything else (five groups, a stray character, a group of one).
bool parseMac(const QString &text, quint64 *address);
// The canonical text: "00:39:28:90:00:FF".
QString macAddressText(quint64 address);
// The hexadecimal digits of text, grouped in twos by ':' and kept in the case
// they were typed: "003928900a0B" shows as "00:39:28:90:0a:0B". Text that is
// not twelve digits comes back as it stands.
QString groupedMacText(const QString &text);
// The next address as the field shows it after a write: groups 1 to 3 keep
// the text they were typed in while they do not change, every other group is
// lower-case ("00:39:28:9A:00:0A" then 00:39:28:9a:00:0b).
QString nextMacText(const QString &typed, quint64 next);

// The addresses a line may give out, first to last inclusive.
struct MacBlock
{
    quint64 first = 0x003928000000ULL;
    quint64 last = 0x003928FFFFFFULL;

    bool contains(quint64 address) const { return address >= first && address <= last; }
    // "00:39:28:00:00:00–00:39:28:FF:FF:FF"
    QString text() const;
};

// The [mac] section of config.ini (first=, last=); without it the default
// block. A key that is not understood, or a block that makes no sense, leaves
// *problem naming the key: no address may then be written.
MacBlock macBlockFromConfig(QString *problem);

// Why an address must not reach a unit.
enum class MacRefusal {
    None,
    AllZero,     // 00:00:00:00:00:00 names no interface
    Broadcast,   // FF:FF:FF:FF:FF:FF
    Multicast,   // the lowest bit of the first byte set: never a unit's own
    OutsideBlock // not the line's to give
};
MacRefusal checkMacForUnit(quint64 address, const MacBlock &block);
// What is wrong with it, in a few words: "是组播地址（第一字节最低位为1）".
QString macRefusalReason(MacRefusal why);
// The line that refuses it, naming the address and the block.
QString macRefusalText(MacRefusal why, quint64 address, const MacBlock &block);
