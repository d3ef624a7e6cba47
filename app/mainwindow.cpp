// The window's construction, its initialisation and leaving the program.

#include "app/mainwindow.h"

#include "app/windowfit.h"
#include "device/runrecord.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// A wheel turned over a box that the engineer is not working in scrolls the
// window instead of changing the box: two notches over the module box once
// moved the writes to another module without anyone noticing.
class WheelNeedsFocus : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget *>(watched)->hasFocus()) {
            event->ignore(); // handed on to the scrolling content behind it
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

void turnOnlyWhenFocused(QWidget *box)
{
    box->setFocusPolicy(Qt::StrongFocus); // a wheel alone does not give it focus
    box->installEventFilter(new WheelNeedsFocus(box));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , serialPort(nullptr)
    , cycleTimer(nullptr)
    , treeMenu(nullptr)
    , treeWidget(nullptr)
    , recvCount(0)
    , sendCount(0)
    , cycleIndex(1)
    , recvBuf{}
    , readFrame{}
    , recvLen(0)
    , recvFlag(0)
    , rootItem(nullptr)
    , macCount(0)
    , m_clock([] { return QDateTime::currentDateTime(); })
{
    ui->setupUi(this);
    openSessionRecord();
    letCtrlCCopy(ui->textBrowser);
    letCtrlCCopy(ui->textBrowser_val);
    setMinimumSize(kWindowSize);
    letContentScroll(this); // a small screen gets scroll bars, never a cut-off window
    ui->groupBoxMessage->setVisible(false);
    ui->groupBox_3->setVisible(false);
    // The form keeps them in the status bar; only code can place them on its right.
    ui->statusbar->addPermanentWidget(ui->label_lineStats);
    ui->statusbar->addPermanentWidget(ui->label_progress);
    ui->statusbar->addPermanentWidget(ui->pushButton_stop);
    turnOnlyWhenFocused(ui->comboBox_md);

    // Owned by the window so they go with it; the port is closed before that.
    serialPort = new QSerialPort(this);
    cycleTimer = new QTimer(this);
    connect(serialPort, &QSerialPort::readyRead, this, &MainWindow::ReadSerialData);
    connect(serialPort, &QSerialPort::errorOccurred, this, &MainWindow::onPortError);
    recordPortEvents();

#ifdef Q_OS_WIN
    SetConsoleOutputCP(65001); // the codec's diagnostic lines are UTF-8
#endif

    InitWindow();
    build_test_tree();
    recvLen = 0;
    recvFlag = 0;
    connectSendPanel();
    setUpTestPlan();
    watchLineSettings();
    m_lineClock.start();
    refreshLineStats();
    m_trafficQueue.flush(); // the lines of the start-up stand there from the first paint
}

MainWindow::~MainWindow()
{
    m_session.flush(); // lines not drawn yet are in the record all the same
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
        auto *button = ui->groupBoxMessage->findChild<QPushButton *>(
            QStringLiteral("pushButtonSend%1").arg(n));
        if (button)
            connect(button, &QPushButton::clicked, this, &MainWindow::SingleSendData);
    }
    connect(cycleTimer, &QTimer::timeout, this, &MainWindow::CycleSendData);
}

void MainWindow::on_actionExit_triggered()
{
    close();
}

// The application's event loop quits with the window, and an operation waiting
// in a nested loop could never sleep again: it ends here, and the port goes
// with the window instead of when the last request has timed out.
void MainWindow::closeEvent(QCloseEvent *event)
{
    endOperationEarly(OperationState::WindowClosing);
    if (serialPort->isOpen())
        on_actionClose_triggered();
    QMainWindow::closeEvent(event);
}
