#pragma once

// MAC provisioning over the seams of device/link.h: read the unit's address,
// write one with every rule that decides whether it may go to this unit, and
// restore factory defaults. The window's three buttons, a test plan's "mac"
// step and the command line run this same code; none can go around a rule.
//
// Every rule in one place, before anything is sent: the address is twelve
// hexadecimal digits, unicast, not all zero or broadcast, inside the line's
// block ([mac] in config.ini); the record claims it for this serial number
// (an address given to another unit, or a unit that has another, is refused);
// the unit reads it back before it counts; only then does the field move on.
// Each result reaches the sink after the record holds it.

#include "device/journal.h"
#include "device/link.h"
#include "device/values.h"

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

struct MacWriteOutcome
{
    enum Status {
        Verified, // written and read back equal
        Refused,  // nothing sent: the address, the unit or the record said no
        Failed,   // sent, and no sound answer or another address read back
        Aborted   // the operation ended (port, window, engineer) before its outcome
    };
    Status status = Refused;
    QString why;     // the line that said so; empty when verified
    QString address; // as sent, "00:39:28:90:00:FF"; empty when it was not understood
    // After a verified write, the next address as the field shows it; empty
    // at the end of the block.
    QString next;
};

class MacProvisioning
{
public:
    MacProvisioning(DeviceLink &link, OperationSink &sink, Journal &journal);

    // Writes address (as typed or looked up) to the unit that serialNumber
    // names ("" when none was looked up). The sink's Field::WriteMac moves on
    // to the next address only after a verified write.
    MacWriteOutcome writeMac(const QString &address, const QString &serialNumber);
    // The unit's address ("00:39:28:90:00:AB"; "" when none came). A read
    // gives nothing out, so it runs when the record cannot be written too,
    // and says so.
    QString readMac(const QString &serialNumber = QString());
    // True when the unit answered the reset soundly.
    bool factoryReset(const QString &serialNumber = QString());
    // After an operation: the record could not be written when it began, so
    // a write or a reset sent nothing and a read went on unrecorded. A front
    // end that reports by status tells this apart from a refusal of the unit.
    bool recordUnwritable() const { return m_recordUnwritable; }

private:
    using Lines = QVector<QPair<QString, Tone>>;

    // The send-and-wait of the three commands: the packet out, the reply in,
    // "serial_query成功" or "serial_query失败" said in lines.
    Exchange serial_query(quint8 command, const QByteArray &info, Lines &lines);
    // The reply's INFO shown and judged: only a whole packet, its checksum
    // right and a zero return code can be trusted.
    ServiceReply showServiceReply(const QByteArray &reply, Lines &lines);
    // One command out and its reply judged into *answer; false when the
    // exchange was cut short, *sent saying whether the packet went out.
    bool queryService(quint8 command, const QByteArray &info, Lines &lines, ServiceReply *answer,
                      bool *sent);
    void finishRecord(qint64 id, const char *result, const QString &detail, const QString &mac,
                      Lines &lines);
    void say(const Lines &lines);

    DeviceLink &m_link;
    OperationSink &m_sink;
    Journal &m_journal;
    bool m_recordUnwritable = false;
};
