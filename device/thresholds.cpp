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
    // Each field is read only after the write before it has finished.
    writeThreshold(QStringLiteral("低压脱离值"), ui->lineEdit_dytlz->text(),
                   kLowVoltageCutRegister);
    writeThreshold(QStringLiteral("脱离恢复值"), ui->lineEdit_dytlhfz->text(), kReconnectRegister);
    writeThreshold(QStringLiteral("过流阈值"), ui->lineEdit_glyz->text(), kOverCurrentRegister);
}

// Window n (1 to 3): its hour, then its minute, from the two fields beside its button.
void MainWindow::writeWindow(int window)
{
    const Operation operation(this);
    if (!operation)
        return;
    // Hour and minute register of each window.
    static const quint16 registers[][2] = {
        {kWindow1HourRegister, kWindow1MinuteRegister},
        {kWindow2HourRegister, kWindow2MinuteRegister},
        {kWindow3HourRegister, kWindow3MinuteRegister},
    };
    static QLineEdit *Ui::MainWindow::*const fields[][2] = {
        {&Ui::MainWindow::lineEdit_sd1hh, &Ui::MainWindow::lineEdit_sd1mm},
        {&Ui::MainWindow::lineEdit_sd2hh, &Ui::MainWindow::lineEdit_sd2mm},
        {&Ui::MainWindow::lineEdit_sd3hh, &Ui::MainWindow::lineEdit_sd3mm},
    };
    writeWindowValue(QStringLiteral("时段%1小时").arg(window), (ui->*fields[window - 1][0])->text(),
                     registers[window - 1][0]);
    writeWindowValue(QStringLiteral("时段%1分钟").arg(window), (ui->*fields[window - 1][1])->text(),
                     registers[window - 1][1]);
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

// After a cut-short exchange the remaining fields are left alone.
void MainWindow::writeThreshold(const QString &fieldName, const QString &text, quint16 base)
{
    if (!operationGoesOn())
        return;
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
    if (!operationGoesOn())
        return;
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
    const QString failed = QStringLiteral("模块[%1]:写%2失败").arg(number, des);
    switch (verdict.outcome) {
    case ReplyVerdict::Answer:
        appendResult(QStringLiteral("模块[%1]:写%2成功").arg(number, des));
        break;
    case ReplyVerdict::NoReply:
        appendResult(failed); // the line says it all when nothing came
        break;
    case ReplyVerdict::Exception:
    case ReplyVerdict::Invalid:
        appendResult(failed + QLatin1Char(':') + failureReason(verdict));
        break;
    case ReplyVerdict::Abandoned:
        break; // the operation's end says why
    }
}
