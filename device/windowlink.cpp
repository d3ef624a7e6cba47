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
    if (QLineEdit *editor = editorOf(field))
        editor->setText(text);
}

QLineEdit *MainWindow::editorOf(Field field) const
{
    switch (field) {
    case Field::LowVoltageCut:
        return ui->lineEdit_dytlz;
    case Field::Reconnect:
        return ui->lineEdit_dytlhfz;
    case Field::Window1Hour:
        return ui->lineEdit_sd1hh;
    case Field::Window1Minute:
        return ui->lineEdit_sd1mm;
    case Field::Window2Hour:
        return ui->lineEdit_sd2hh;
    case Field::Window2Minute:
        return ui->lineEdit_sd2mm;
    case Field::Window3Hour:
        return ui->lineEdit_sd3hh;
    case Field::Window3Minute:
        return ui->lineEdit_sd3mm;
    case Field::OverCurrent:
        return ui->lineEdit_glyz;
    case Field::Clock:
        return ui->lineEdit_datetime;
    case Field::ReadMac:
        return ui->lineEdit_rdmac;
    case Field::WriteMac:
        return ui->lineEdit_wrmac;
    }
    return nullptr;
}

void MainWindow::progress(const QString &text)
{
    showRunStep(text);
}
