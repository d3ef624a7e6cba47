#pragma once

// The one window of FeederBench. This header is the map of the program: the
// slots stand in the order of the window's slot table (their meta-object index
// is their place below), each run under a banner naming the file that holds it;
// the plain members follow, grouped the same way.
//
// Every file named below is in the window library (feederbench_window). What
// the unit means (frames, reply checks, decoding, values, the register map,
// the device table) lives in the core library (feederbench_core), free
// functions over Qt Core that a test calls without a window; what the unit is
// asked and told (reading, switching, writing, the clock, the test plan) is in
// the operations library (feederbench_ops), which the window drives through
// its link and sink; the simulated unit is a library of its own
// (feederbench_sim) that the shipped program never links.

#include "device/journal.h"
#include "device/link.h"
#include "device/operations.h"
#include "device/runreport.h"
#include "device/values.h"
#include "protocol/reply.h"
#include "serial/linestats.h"
#include "serial/messagelog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QCloseEvent;
class QEventLoop;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPoint;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
QT_END_NAMESPACE

class JournalWindow;
class RunRecord;
struct UnitRun;

// The window is one front end of the device operations (device/link.h): it
// carries their requests and shows what they report.
class MainWindow : public QMainWindow, private DeviceLink, private OperationSink
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    // ---- app/mainwindow.cpp: leaving the program
    void on_actionExit_triggered(); // 0

    // ---- serial/port.cpp: open and close; serial/messagelog.cpp: save
    void on_actionConnect_triggered(); // 1  serial/port.cpp
    void on_actionClose_triggered();   // 2  serial/port.cpp
    void on_actionSave_triggered();    // 3  serial/messagelog.cpp
    void on_actionRefresh_triggered(); // 4  serial/port.cpp

    // ---- serial/receive.cpp, serial/messagelog.cpp, serial/sendpanel.cpp: console
    void on_pushButtonClearCounterRecieve_clicked(); // 5  serial/receive.cpp
    void on_pushButtonClearDataRecieve_clicked();    // 6  serial/messagelog.cpp
    void on_pushButtonClearCounterSend_clicked();    // 7  serial/receive.cpp
    void on_pushButtonClearDataSend_clicked();       // 8  serial/sendpanel.cpp
    void on_checkBoxPoll_clicked(bool checked);      // 9  serial/sendpanel.cpp
    void ReadSerialData();                           // 10 serial/receive.cpp
    void CycleSendData();                            // 11 serial/sendpanel.cpp
    void SingleSendData();                           // 12 serial/sendpanel.cpp

    // ---- config/testtree.cpp: the test tree and its context menu
    void slotMenuPopup(const QPoint &pos);                            // 13
    void slotMenuPopup_all();                                         // 14
    void slotMenuPopup_no();                                          // 15
    void ItemCheckChanged(QTreeWidgetItem *item, int column);         // 16
    void on_treeWidget_clicked(const QModelIndex &index);             // 17
    void on_treeWidget_customContextMenuRequested(const QPoint &pos); // 18

    // ---- device/polling.cpp: read test of the ticked items
    void on_pushButton_clicked(); // 19

    // ---- serial/sendpanel.cpp, serial/messagelog.cpp
    void on_pushButtonSend1_clicked(); // 20 serial/sendpanel.cpp
    void on_pushButton_3_clicked();    // 21 serial/messagelog.cpp

    // ---- device/switching.cpp: breaker and enables of one module
    void on_pushButton_4_clicked();  // 22 close
    void on_pushButton_5_clicked();  // 23 open
    void on_pushButton_6_clicked();  // 24 remote control on
    void on_pushButton_7_clicked();  // 25 remote control off
    void on_pushButton_8_clicked();  // 26 low-voltage disconnect on
    void on_pushButton_9_clicked();  // 27 low-voltage disconnect off
    void on_pushButton_10_clicked(); // 28 time-period control on
    void on_pushButton_11_clicked(); // 29 time-period control off

    // ---- device/thresholds.cpp: thresholds and time windows
    void on_pushButton_yzsz_clicked(); // 30
    void on_pushButton_sd1_clicked();  // 31
    void on_pushButton_sd2_clicked();  // 32
    void on_pushButton_sd3_clicked();  // 33

    // ---- device/clock.cpp: the module's clock
    void on_pushButton_datatime_clicked(); // 34

    // ---- serial/messagelog.cpp: right-click clears
    void on_textBrowser_customContextMenuRequested(const QPoint &pos);     // 35
    void on_textBrowser_val_customContextMenuRequested(const QPoint &pos); // 36

    // ---- device/provisioning.cpp: MAC address
    void on_pushButton_rdmac_clicked(); // 37
    void on_pushButton_wrmac_clicked(); // 38

    // ---- device/switching.cpp: all modules in turn
    void on_pushButton_alloff_clicked(); // 39
    void on_pushButton_allon_clicked();  // 40

    // ---- device/provisioning.cpp: factory defaults
    void on_pushButton_deffac_clicked(); // 41

    // ---- device/switching.cpp: remote control on all modules
    void on_pushButton_rm_ctrl_on_clicked();  // 42
    void on_pushButton_rm_ctrl_off_clicked(); // 43

    // ---- config/macwindow.cpp: serial-number lookup
    void on_lineEdit_returnPressed();      // 44 (no such field; never reached)
    void on_lineEdit_sn_returnPressed();   // 45
    void on_lineEdit_sn_editingFinished(); // 46

    // ---- device/polling.cpp: the clock and single registers on demand
    void on_pushButton_2_clicked(); // 47
    void reg_rd(ushort reg);        // 48

    // ---- device/runs.cpp: stopping a poll or an all-modules run
    void on_pushButton_stop_clicked(); // 49

    // ---- serial/messagelog.cpp: the session records
    void on_actionOpenRecordFolder_triggered(); // 50

    // ---- device/record.cpp: the provisioning record
    void on_actionExportRecord_triggered(); // 51
    void on_actionRecordWindow_triggered(); // 52
    void on_actionNewRecord_triggered();    // 53

    // ---- app/help.cpp: the 帮助 menu
    void on_actionGuide_triggered(); // 54
    void on_actionAbout_triggered(); // 55

    // ---- device/testplan.cpp: 一键测试, the test plan on one unit
    void on_actionRunPlan_triggered(); // 56

protected:
    // ---- app/mainwindow.cpp: a running operation ends with the window
    void closeEvent(QCloseEvent *event) override;

private:
    friend struct MainWindowProbe; // tests and benchmarks look inside (tests/support/)

    // ---- app/mainwindow.cpp: construction
    void InitWindow();
    void connectSendPanel();

    // ---- config/macwindow.cpp: the serial-number table
    bool loadMacTable();
    void lookUpSerialNumber();
    void watchSerialNumberField();
    void adoptLookedUpAddress(const QString &sn, int index);

    // ---- config/testtree.cpp: device list and tree
    void build_test_tree();
    void update_parent_check(QTreeWidgetItem *item);

    // ---- serial/port.cpp
    void RefreshPortList();
    void watchLineSettings();
    void applyLineSettingsNow(); // the engineer changed a setting of the open port
    bool portUsable() const;
    bool askToOpenPort(); // true when the engineer chose to open it
    void onPortError(QSerialPort::SerialPortError error);
    void closePortAfterError();

    // ---- serial/receive.cpp
    void showReceiveCount();
    void showCounters();
    void showStatus(const QString &text);
    void showHeldDisplay(); // what the counters and the status line held back
    QByteArray takeConsoleEcho(const QByteArray &chunk);
    void showLineStats();    // soon
    void refreshLineStats(); // now

    // ---- serial/send.cpp: the one transmit routine
    void SendData(int n);

    // ---- serial/wait.cpp: waits that sleep until something happens
    void WaitForReply(int timeoutMs);

    // ---- serial/messagelog.cpp: the two message windows and the session record
    void openSessionRecord();
    void recordPortEvents(); // closed and lost, into the session record
    void recordPortOpened(); // called by serial/port.cpp once a port is open
    void recordPortEvent(const QString &text);
    void appendResult(const QString &line, Tone tone = Tone::Plain);
    void appendTrafficLines(const QStringList &lines); // file text, shown as plain text
    void appendSendLog(const QDateTime &when, const QString &display);
    // marker: after the bytes in the window ("（回显）"); recordNote: after a
    // tab in the session record only (the response time)
    void appendReceiveLog(const unsigned char *bytes, int length, const QString &marker = QString(),
                          const QString &recordNote = QString());

    // ---- serial/exchange.cpp: one request out, its reply gathered and judged
    ReplyVerdict exchangeRequest(const unsigned char *frame, int length, ReplyKind kind);
    bool readyToSend();
    void logGathered(const unsigned char *frame, int echoLength, bool sent);
    void showEchoHint();
    bool beginOperation();
    void endOperation();
    // The running device operation, and why it ends early. The exchange looks
    // before it sends, the wait whenever it wakes.
    enum class OperationState {
        Idle,
        Running,
        StopRequested, // the engineer pressed 停止: ends after the exchange in progress
        PortLost,      // the port went (hang-up, closed by hand, not opened when asked)
        WindowClosing, // the window is closing: end at once, say nothing
        Cancelled,     // the engineer would not open the closed port
        OpenFailed     // the engineer chose to open it, and it did not open
    };
    void endOperationEarly(OperationState why);
    bool operationGoesOn() const { return m_operation == OperationState::Running; }
    bool exchangeCutShort() const;
    void reportOperationEnd();
    // One device operation at a time: held for the whole of a slot's work,
    // released however the slot ends. False when another operation runs.
    class Operation
    {
    public:
        explicit Operation(MainWindow *window)
            : m_window(window)
            , m_held(window->beginOperation())
        {}
        ~Operation()
        {
            if (m_held)
                m_window->endOperation();
        }
        Operation(const Operation &) = delete;
        Operation &operator=(const Operation &) = delete;
        explicit operator bool() const { return m_held; }

    private:
        MainWindow *m_window;
        bool m_held;
    };

    // ---- device/windowlink.cpp: the window as the operations' link and sink
    Exchange exchange(const QByteArray &request, const ReplyKind &kind) override;
    bool goesOn() const override;
    void pause(int ms) override;
    QString portName() const override;
    QDateTime now() const override;
    void resultLine(const QString &line, Tone tone = Tone::Plain) override;
    void fieldValue(Field field, const QString &text) override;
    void progress(const QString &text) override;
    QLineEdit *editorOf(Field field) const; // the field that shows and writes a value

    // ---- device/runs.cpp: progress, stop and summary of a run over many requests
    void beginRun(int total);
    void showRunStep(const QString &text);
    void countInRun(const ReplyVerdict &verdict);
    void endRun(); // the stop button and the progress go
    void finishRun();

    // ---- device/polling.cpp: the tree walk; reading is the operations' (device/operations.cpp)
    void pollTicked();
    void poll_item(QTreeWidgetItem *item);

    // ---- device/switching.cpp
    void runSwitch(SwitchCommand command);
    void runSwitchAll(SwitchCommand command);
    int moduleNumber() const;

    // ---- device/thresholds.cpp
    void writeThresholds();
    void writeWindow(int window);
    void writeFromField(quint16 base);

    // ---- device/clock.cpp
    void writeClock();

    // ---- device/provisioning.cpp
    // The three service commands (0x98, 0x97, 0x99), each under one operation,
    // run by MacProvisioning (device/macprovisioning.h) over this window.
    void runServiceCommand(quint8 command);
    QString recordSerialNumber() const;

    // ---- device/record.cpp
    Journal &journal();
    void exportRecord(); // the provisioning record, and the unit runs beside it

    // ---- device/testplan.cpp
    void setUpTestPlan();
    void startPlanAfterScan();
    void runTestPlan();
    RunRecord &runRecord();
    void showVerdict(const UnitRun &run, int checks);
    void clearVerdict();

    // Members of the window, in their declared order.
    Ui::MainWindow *ui;
    QSerialPort *serialPort;
    QTimer *cycleTimer;
    QMenu *treeMenu;
    QTreeWidget *treeWidget;
    int recvCount;
    int sendCount;
    quint8 cycleIndex;
    unsigned char recvBuf[256];
    unsigned char readFrame[256];
    int recvLen;
    int recvFlag;
    QTreeWidgetItem *rootItem;
    QStringList snList;
    QStringList macList;
    int macCount;

    // Beyond the window's own members.
    OperationState m_operation = OperationState::Idle; // one device operation at a time
    bool m_operationEndReported = false;               // the line saying why it ended, once
    struct Run
    {
        int total = 0;
        RunTally tally;
        QElapsedTimer clock;
    } m_run;                              // the poll or all-modules run under way
    bool m_errorClosePending = false;     // a port error closes the port once
    QEventLoop *m_waitLoop = nullptr;     // the wait that reception wakes
    int m_lastChunkSize = 0;              // for the status text of the last reception
    bool m_receiveDisplayStale = false;   // counters not shown yet while a wait runs
    bool m_displayHeld = false;           // counters or status held back by an operation
    QString m_heldStatus;                 // the status line it held back
    ReplyKind m_expected;                 // what the running exchange waits for
    QByteArray m_expectedEcho;            // and the echo it expects first ("" none)
    bool m_inExchange = false;            // the exchange's request is on its way
    QElapsedTimer m_lineClock;            // the time line of sending and reception
    qint64 m_lastByteOutNs = -1;          // when the last request's last byte left the line
    qint64 m_lastReceptionNs = -1;        // when the latest chunk arrived
    LineStats m_lineStats;                // since the port opened or the counters were cleared
    QTimer *m_lineStatsTimer = nullptr;   // the label follows the figures at most this often
    QByteArray m_consoleEcho;             // what the line owes back of the console's sends
    QByteArray m_consoleEchoSeen;         // and what has come of it so far
    bool m_echoHintDue = false;           // a read came back beginning with itself
    bool m_echoHintShown = false;         // said once for each opening of the port
    QStringList m_portsListed;            // by the last refresh: the rest is typed
    std::function<QDateTime()> m_clock;   // the computer's clock; tests inject one
    SessionRecord m_session;              // every line of the run, on disk
    LineStore m_trafficLog;               // all lines of textBrowser since its clearing
    LineStore m_resultLog;                // and of textBrowser_val
    LogQueue m_trafficQueue;              // lines on their way to textBrowser
    LogQueue m_resultQueue;               // and to textBrowser_val
    QString m_matchedSn;                  // what the last lookup found ("" after a miss)
    QString m_lookedUpMac;                // the address the last lookup put into lineEdit_wrmac
    bool m_snLookedUp = false;            // lineEdit_sn's text has been looked up as it stands
    bool m_portLossRecorded = false;      // the port's going is in the session record once
    std::unique_ptr<Journal> m_journal;   // opened at the first service command
    DeviceOperations m_ops{*this, *this}; // the device operations, over this window
    // The "记录" window, made when first asked for.
    JournalWindow *m_journalWindow = nullptr;
    std::unique_ptr<RunRecord> m_runRecord; // the unit runs, beside the journal
};
