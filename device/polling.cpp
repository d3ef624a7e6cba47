// The window's read side: the walk over the ticked entries of the test tree,
// and the clock on demand. Each entry is read by the operations (device/operations.cpp).

#include "app/mainwindow.h"
#include "config/devicelist.h"
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
    // A run that ended at the question to open the port says only that.
    if (operationGoesOn())
        resultLine(readTestBanner(moduleNumber()));
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
    if (operation)
        m_ops.readByRegister(reg, moduleNumber());
}

// Check states are read as the walk reaches each item: the engineer may tick
// or untick items while an earlier entry waits for its reply, and pick
// another module. A stopped or cut-short poll reads nothing more.
void MainWindow::poll_item(QTreeWidgetItem *item)
{
    const int entry = tickedEntry(item);
    if (entry >= 0 && operationGoesOn()) {
        if (deviceTable[entry].type >= kGroupHeaderType) {
            resultLine(separatorLine());
        } else {
            // An item ticked during the poll adds to the total.
            const int step = m_run.tally.done() + 1;
            m_run.total = qMax(m_run.total, step);
            showRunStep(pollStepText(step, m_run.total, deviceTable[entry].des));
            countInRun(m_ops.readEntry(entry, moduleNumber()).verdict);
        }
    }
    for (int i = 0; i < item->childCount() && operationGoesOn(); ++i)
        poll_item(item->child(i));
}
