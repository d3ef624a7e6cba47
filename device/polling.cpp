// The window's read side: the ticked entries of the test tree, and single registers on demand.

#include "app/mainwindow.h"
#include "config/devicelist.h"
#include "device/decode.h"
#include "device/registers.h"
#include "ui_mainwindow.h"

#include <QTreeWidgetItem>

namespace {

QString separatorLine()
{
    return QStringLiteral("===========================");
}

// The device-table entry a ticked item stands for, or -1 (unticked, or the
// root "所有", which carries 999).
int tickedEntry(const QTreeWidgetItem *item)
{
    if (item->checkState(0) != Qt::Checked)
        return -1;
    bool isNumber = false;
    const uint entry = item->data(0, Qt::UserRole).toUInt(&isNumber);
    return isNumber && entry < uint(kDeviceTableSize) ? int(entry) : -1;
}

int tickedReads(const QTreeWidgetItem *item)
{
    const int entry = tickedEntry(item);
    int reads = entry >= 0 && deviceTable[entry].type < kGroupHeaderType ? 1 : 0;
    for (int i = 0; i < item->childCount(); ++i)
        reads += tickedReads(item->child(i));
    return reads;
}

} // namespace

void MainWindow::on_pushButton_clicked()
{
    pollTicked();
}

void MainWindow::pollTicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    beginRun(tickedReads(treeWidget->invisibleRootItem()));
    poll_item(treeWidget->invisibleRootItem());
    finishRun();
}

void MainWindow::on_pushButton_2_clicked()
{
    reg_rd(kClockRegister);
}

// The only way in from the window is the clock button, so the guard sits here
// and covers the whole read.
void MainWindow::reg_rd(ushort reg)
{
    const Operation operation(this);
    if (!operation)
        return;
    const int entry = findEntryByRegister(reg);
    if (entry < 0) {
        const QString hex = QStringLiteral("%1").arg(uint(reg), 4, 16, QLatin1Char('0')).toUpper();
        appendResult(QStringLiteral("寄存器0x%1未在配置中").arg(hex));
    } else if (deviceTable[entry].type >= kGroupHeaderType) {
        appendResult(separatorLine());
    } else {
        readEntry(entry);
    }
}

// Check states are read as the walk reaches each item: the engineer may tick
// or untick items while an earlier entry waits for its reply.
// A stopped or cut-short poll reads nothing more.
void MainWindow::poll_item(QTreeWidgetItem *item)
{
    const int entry = tickedEntry(item);
    if (entry >= 0 && operationGoesOn()) {
        if (deviceTable[entry].type >= kGroupHeaderType) {
            appendResult(separatorLine());
        } else {
            // An item ticked during the poll adds to the total.
            const int step = m_run.tally.done() + 1;
            m_run.total = qMax(m_run.total, step);
            showRunStep(pollStepText(step, m_run.total, deviceTable[entry].des));
            countInRun(readEntry(entry));
        }
    }
    for (int i = 0; i < item->childCount() && operationGoesOn(); ++i)
        poll_item(item->child(i));
}

ReplyVerdict MainWindow::readEntry(int entry)
{
    const DeviceEntry &e = deviceTable[entry];
    // The module is read afresh for every entry: it may change during a poll.
    const int length = make_read_frame(readFrame, kBusAddress,
                                       moduleRegister(moduleNumber(), e.base), quint16(e.regnum));
    const ReplyVerdict verdict
        = exchangeRequest(readFrame, length, ReplyKind::modbus(kReadHoldingRegisters));
    if (verdict.ok())
        appendResult(e.des + QLatin1Char(':') + decode_reply(entry, recvBuf + 2));
    else if (verdict.outcome != ReplyVerdict::Abandoned)
        appendResult(e.des + QLatin1Char(':') + failureReason(verdict));
    return verdict;
}

QString MainWindow::decode_reply(int entry, const unsigned char *bytes)
{
    const DeviceEntry &e = deviceTable[entry];
    // bytes is the reply from its byte count on (byte 2): only what arrived may be read.
    const QString text = decodeReply(e, bytes, recvLen - 2);
    if (e.type == kEntryTypeInteger)
        show_in_editor(entry, text);
    else if (e.type == kEntryTypeDateTime)
        ui->lineEdit_datetime->setText(text);
    return text;
}

// A read fills the fields that the write buttons send from.
void MainWindow::show_in_editor(int entry, const QString &text)
{
    static const struct
    {
        quint16 base;
        QLineEdit *Ui::MainWindow::*editor;
    } editors[] = {
        {kLowVoltageCutRegister, &Ui::MainWindow::lineEdit_dytlz},
        {kReconnectRegister, &Ui::MainWindow::lineEdit_dytlhfz},
        {kWindow1HourRegister, &Ui::MainWindow::lineEdit_sd1hh},
        {kWindow1MinuteRegister, &Ui::MainWindow::lineEdit_sd1mm},
        {kWindow2HourRegister, &Ui::MainWindow::lineEdit_sd2hh},
        {kWindow2MinuteRegister, &Ui::MainWindow::lineEdit_sd2mm},
        {kWindow3HourRegister, &Ui::MainWindow::lineEdit_sd3hh},
        {kWindow3MinuteRegister, &Ui::MainWindow::lineEdit_sd3mm},
        {kOverCurrentRegister, &Ui::MainWindow::lineEdit_glyz},
    };
    for (const auto &e : editors) {
        if (e.base == deviceTable[entry].base) {
            (ui->*e.editor)->setText(text);
            return;
        }
    }
}
