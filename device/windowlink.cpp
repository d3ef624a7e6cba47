// The window as the device operations' link and sink: requests go through the
// exchange and its traffic lines, results into the result window, values into
// the fields that write them back.

#include "app/mainwindow.h"
#include "serial/wait.h"
#include "ui_mainwindow.h"

Exchange MainWindow::exchange(const QByteArray &request, const ReplyKind &kind)
{
    Exchange done;
    done.verdict = exchangeRequest(reinterpret_cast<const unsigned char *>(request.constData()),
                                   request.size(), kind);
    if (done.verdict.outcome != ReplyVerdict::Abandoned)
        done.reply = QByteArray(reinterpret_cast<const char *>(recvBuf), recvLen);
    return done;
}

bool MainWindow::goesOn() const
{
    return operationGoesOn();
}

void MainWindow::pause(int ms)
{
    DelayMs(ms);
}

QString MainWindow::portName() const
{
    return serialPort->portName();
}

QDateTime MainWindow::now() const
{
    return m_clock();
}

void MainWindow::resultLine(const QString &line, Tone tone)
{
    appendResult(line, tone);
}

void MainWindow::fieldValue(Field field, const QString &text)
{
    QLineEdit *editor = nullptr;
    switch (field) {
    case Field::LowVoltageCut:
        editor = ui->lineEdit_dytlz;
        break;
    case Field::Reconnect:
        editor = ui->lineEdit_dytlhfz;
        break;
    case Field::Window1Hour:
        editor = ui->lineEdit_sd1hh;
        break;
    case Field::Window1Minute:
        editor = ui->lineEdit_sd1mm;
        break;
    case Field::Window2Hour:
        editor = ui->lineEdit_sd2hh;
        break;
    case Field::Window2Minute:
        editor = ui->lineEdit_sd2mm;
        break;
    case Field::Window3Hour:
        editor = ui->lineEdit_sd3hh;
        break;
    case Field::Window3Minute:
        editor = ui->lineEdit_sd3mm;
        break;
    case Field::OverCurrent:
        editor = ui->lineEdit_glyz;
        break;
    case Field::Clock:
        editor = ui->lineEdit_datetime;
        break;
    case Field::ReadMac:
        editor = ui->lineEdit_rdmac;
        break;
    case Field::WriteMac:
        editor = ui->lineEdit_wrmac;
        break;
    }
    if (editor)
        editor->setText(text);
}

void MainWindow::progress(const QString &text)
{
    showRunStep(text);
}
