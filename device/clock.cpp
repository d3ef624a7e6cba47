// Setting the module's clock from the computer's.

#include "app/mainwindow.h"
#include "device/registers.h"
#include "device/values.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_datatime_clicked()
{
    writeClock();
}

void MainWindow::writeClock()
{
    const Operation operation(this);
    if (!operation)
        return;
    appendResult(QStringLiteral("-------写电脑时间到设备---------"));
    // The field shows what is written: it is filled from the clock first and
    // the block is taken from its text, so anything typed there is replaced.
    ui->lineEdit_datetime->setText(m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    ClockFields t;
    if (!parseClockText(ui->lineEdit_datetime->text(), &t)) {
        appendResult(
            QStringLiteral("电脑时间“%1”无法识别，未写入").arg(ui->lineEdit_datetime->text()));
        return;
    }
    appendResult(QStringLiteral("==>本地电脑时间: %1-%2-%3 %4:%5:%6")
                     .arg(t.year)
                     .arg(t.month)
                     .arg(t.day)
                     .arg(t.hour)
                     .arg(t.minute)
                     .arg(t.second));
    const int entry = entryForWrite(kClockRegister, QStringLiteral("设备时间"));
    if (entry >= 0) {
        unsigned char block[8];
        clockBlock(t, block);
        reg_wr_multi(entry, block);
    }
}
