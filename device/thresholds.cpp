// The threshold and time-window buttons: each field's text written to the
// chosen module by the operations (device/operations.cpp).

#include "app/mainwindow.h"
#include "device/registers.h"
#include "ui_mainwindow.h"

#include <QLineEdit>

void MainWindow::on_pushButton_yzsz_clicked()
{
    writeThresholds();
}

void MainWindow::on_pushButton_sd1_clicked()
{
    writeWindow(1);
}

void MainWindow::on_pushButton_sd2_clicked()
{
    writeWindow(2);
}

void MainWindow::on_pushButton_sd3_clicked()
{
    writeWindow(3);
}

void MainWindow::writeThresholds()
{
    const Operation operation(this);
    if (!operation)
        return;
    for (quint16 base : {kLowVoltageCutRegister, kReconnectRegister, kOverCurrentRegister})
        writeFromField(base);
}

// Window n (1 to 3): its hour, then its minute, from the two fields beside its button.
void MainWindow::writeWindow(int window)
{
    const Operation operation(this);
    if (!operation)
        return;
    const quint16 hour = quint16(kWindow1HourRegister + 2 * (window - 1));
    writeFromField(hour);
    writeFromField(hour + 1);
}

// Each field is read only after the write before it has finished, and the
// module afresh for each.
void MainWindow::writeFromField(quint16 base)
{
    m_ops.writeValue(base, editorOf(writableRegister(base)->field)->text(), moduleNumber());
}
