// Writing thresholds and time windows; the single and block register writes
// that the clock shares.

#include "app/mainwindow.h"
#include "config/devicelist.h"
#include "device/registers.h"
#include "device/values.h"
#include "ui_mainwindow.h"

namespace {

QString registerText(quint16 base)
{
    return QStringLiteral("%1").arg(base, 4, 16, QLatin1Char('0')).toUpper();
}

// The largest value the register holds, in the field's own units.
QString thresholdLimitText(int xsws)
{
    double limit = 0xFFFF;
    for (int i = 0; i < xsws; ++i)
        limit /= 10;
    for (int i = 0; i > xsws; --i)
        limit *= 10;
    return QString::number(limit, 'f', qMax(xsws, 0));
}

} // namespace

void MainWindow::on_pushButton_yzsz_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    // Each field is read only after the write before it has finished.
    writeThreshold(QStringLiteral("低压脱离值"), ui->lineEdit_dytlz->text(),
                   kLowVoltageCutRegister);
    writeThreshold(QStringLiteral("脱离恢复值"), ui->lineEdit_dytlhfz->text(), kReconnectRegister);
    writeThreshold(QStringLiteral("过流阈值"), ui->lineEdit_glyz->text(), kOverCurrentRegister);
}

void MainWindow::on_pushButton_sd1_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    writeWindowValue(QStringLiteral("时段1小时"), ui->lineEdit_sd1hh->text(), kWindow1HourRegister);
    writeWindowValue(QStringLiteral("时段1分钟"), ui->lineEdit_sd1mm->text(),
                     kWindow1MinuteRegister);
}

void MainWindow::on_pushButton_sd2_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    writeWindowValue(QStringLiteral("时段2小时"), ui->lineEdit_sd2hh->text(), kWindow2HourRegister);
    writeWindowValue(QStringLiteral("时段2分钟"), ui->lineEdit_sd2mm->text(),
                     kWindow2MinuteRegister);
}

void MainWindow::on_pushButton_sd3_clicked()
{
    const Operation operation(this);
    if (!operation)
        return;
    writeWindowValue(QStringLiteral("时段3小时"), ui->lineEdit_sd3hh->text(), kWindow3HourRegister);
    writeWindowValue(QStringLiteral("时段3分钟"), ui->lineEdit_sd3mm->text(),
                     kWindow3MinuteRegister);
}

// A register the device list does not name cannot be addressed; saying so
// keeps the engineer from taking a silent skip for a write.
int MainWindow::entryForWrite(quint16 base, const QString &what)
{
    const int entry = findEntryByRegister(base);
    if (entry < 0)
        appendResult(QStringLiteral("%1:设备列表中没有寄存器%2的条目，未写入")
                         .arg(what, registerText(base)));
    return entry;
}

void MainWindow::writeThreshold(const QString &fieldName, const QString &text, quint16 base)
{
    const int entry = entryForWrite(base, fieldName);
    if (entry < 0)
        return;
    const int xsws = deviceTable[entry].xsws;
    const RegisterValue v = scaledThreshold(text, xsws);
    switch (v.status) {
    case RegisterValue::Ok:
        reg_wr(entry, v.value);
        break;
    case RegisterValue::Empty:
        appendResult(QStringLiteral("%1:未填写，跳过").arg(fieldName));
        break;
    case RegisterValue::NotANumber:
        appendResult(QStringLiteral("%1:“%2”不是数字，未写入").arg(fieldName, text));
        break;
    case RegisterValue::OutOfRange:
        appendResult(QStringLiteral("%1:“%2”超出范围0～%3，未写入")
                         .arg(fieldName, text, thresholdLimitText(xsws)));
        break;
    }
}

void MainWindow::writeWindowValue(const QString &fieldName, const QString &text, quint16 base)
{
    const int entry = entryForWrite(base, fieldName);
    if (entry < 0)
        return;
    const RegisterValue v = windowValue(text);
    switch (v.status) {
    case RegisterValue::Ok:
        reg_wr(entry, v.value);
        break;
    case RegisterValue::Empty:
        appendResult(QStringLiteral("%1:未填写，未写入").arg(fieldName));
        break;
    case RegisterValue::NotANumber:
        appendResult(QStringLiteral("%1:“%2”不是整数，未写入").arg(fieldName, text));
        break;
    case RegisterValue::OutOfRange:
        appendResult(QStringLiteral("%1:“%2”超出16位范围，未写入").arg(fieldName, text));
        break;
    }
}

void MainWindow::reg_wr(int entry, quint16 value)
{
    const int module = moduleNumber();
    const quint16 address = moduleRegister(module, deviceTable[entry].base);
    const int length = make_write_single_frame(kBusAddress, address, value);
    reportWrite(module, entry,
                exchangeRequest(requestFrame, length, ReplyKind::modbus(kWriteSingleRegister)));
}

void MainWindow::reg_wr_multi(int entry, const unsigned char *data)
{
    const int module = moduleNumber();
    const quint16 address = moduleRegister(module, deviceTable[entry].base);
    const int length
        = make_write_multi_frame(kBusAddress, address, kClockRegisterCount, kClockBlockBytes, data);
    reportWrite(module, entry,
                exchangeRequest(requestFrame, length, ReplyKind::modbus(kWriteMultipleRegisters)));
}

void MainWindow::reportWrite(int module, int entry, const ReplyVerdict &verdict)
{
    const QString number = QString::number(module);
    const QString &des = deviceTable[entry].des;
    if (verdict.ok())
        appendResult(QStringLiteral("模块[%1]:写%2成功").arg(number, des));
    else
        appendResult(failureText(verdict, QStringLiteral("模块[%1]:写%2失败").arg(number, des)));
}
