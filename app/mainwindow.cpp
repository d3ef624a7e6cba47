// The window's construction, its initialisation and leaving the program.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QPushButton>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      serialPort(nullptr),
      cycleTimer(nullptr),
      treeMenu(nullptr),
      treeWidget(nullptr),
      recvCount(0),
      sendCount(0),
      cycleIndex(1),
      recvBuf{},
      readFrame{},
      recvLen(0),
      recvFlag(0),
      rootItem(nullptr),
      macCount(0),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    ui->setupUi(this);
    m_trafficQueue.setView(ui->textBrowser);
    m_resultQueue.setView(ui->textBrowser_val);
    setMinimumSize(1400, 900);
    ui->groupBoxMessage->setVisible(false);
    ui->groupBox_3->setVisible(false);

    // Owned by the window so they go with it; the port is closed before that.
    serialPort = new QSerialPort(this);
    cycleTimer = new QTimer(this);
    connect(serialPort, &QSerialPort::readyRead, this, &MainWindow::ReadSerialData);
    connect(serialPort, &QSerialPort::errorOccurred, this, &MainWindow::onPortError);

#ifdef Q_OS_WIN
    SetConsoleOutputCP(65001); // the codec's diagnostic lines are UTF-8
#endif

    InitWindow();
    build_test_tree();
    recvLen = 0;
    recvFlag = 0;
    connectSendPanel();
    m_trafficQueue.flush(); // the lines of the start-up stand there from the first paint
}

MainWindow::~MainWindow()
{
    if (serialPort->isOpen())
        serialPort->close();
    delete ui;
}

void MainWindow::InitWindow()
{
    macCount = 0;
    loadMacTable(); // a missing table is reported; the rest of the set-up goes on
    watchSerialNumberField();
    RefreshPortList();

    ui->comboBoxBaud->addItems({"9600", "14400", "19200", "28800", "38400", "56000", "57600",
                                "115200", "128000", "230400", "256000"});
    ui->comboBoxData->addItems({"7位", "8位", "9位"});
    ui->comboBoxData->setCurrentIndex(1);
    ui->comboBoxParity->addItems({"无校验", "奇校验", "偶校验"});
    ui->comboBoxStop->addItems({"1位", "1.5位", "2位"});

    ui->spinBoxInterval->setValue(1000);
    ui->checkBoxSend->setChecked(true);
    ui->checkBoxRecieve->setChecked(true);
}

void MainWindow::connectSendPanel()
{
    for (int n = 1; n <= 5; ++n) {
        auto *button =
            ui->groupBoxMessage->findChild<QPushButton *>(QStringLiteral("pushButtonSend%1").arg(n));
        if (button)
            connect(button, &QPushButton::clicked, this, &MainWindow::SingleSendData);
    }
    connect(cycleTimer, &QTimer::timeout, this, &MainWindow::CycleSendData);
}

void MainWindow::on_actionExit_triggered()
{
    close();
}
