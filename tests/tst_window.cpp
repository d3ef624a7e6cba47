// The window as it comes up: the form's objects, places, limits and texts,
// the line-setting lists and defaults, the hidden send panel, the slot table
// of the meta-object, the icons, and the build stamp of the title.
#include "app/buildstamp.h"
#include "app/qttranslations.h"
#include "support/windowdriver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidget>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

// The icons are compiled into the static library; only a reference from the
// executable keeps them in. Must sit outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(images);
}

namespace {

constexpr int kQtMaxSize = QWIDGETSIZE_MAX;

QObject *object(QMainWindow &w, const QString &name)
{
    if (w.objectName() == name)
        return &w;
    return w.findChild<QObject *>(name);
}

// Where an object sits in a grid layout, or false when it is not in it.
bool gridCell(QGridLayout *grid, QObject *item, int *row, int *column, int *rowSpan,
              int *columnSpan)
{
    for (int i = 0; i < grid->count(); ++i) {
        QLayoutItem *it = grid->itemAt(i);
        if (it->widget() == item || it->layout() == item) {
            grid->getItemPosition(i, row, column, rowSpan, columnSpan);
            return true;
        }
    }
    return false;
}

QStringList itemTexts(QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList actionNames(const QList<QAction *> &actions)
{
    QStringList names;
    for (QAction *a : actions)
        names << (a->menu() ? a->menu()->objectName() : a->objectName());
    return names;
}

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void objectsWithTheirClasses_data();
    void objectsWithTheirClasses();
    void layoutsOfContainers_data();
    void layoutsOfContainers();
    void gridPlaces_data();
    void gridPlaces();
    void rowsLeftToRight_data();
    void rowsLeftToRight();
    void portSettingsForm();
    void spacingsAndMargins_data();
    void spacingsAndMargins();
    void sizeLimits_data();
    void sizeLimits();
    void sizePolicies_data();
    void sizePolicies();
    void frames_data();
    void frames();
    void texts_data();
    void texts();
    void inputMasksAndStartingTexts();
    void otherWidgetProperties();

    void actionsInMenusAndToolBar();
    void actionsStartEnabledAndNotCheckable();
    void icons_data();
    void icons();

    void moduleList();
    void moduleBoxTurnsWithTheWheelOnlyWhenFocused();
    void lineSettingListsAndDefaultsWithoutMacTable_data();
    void lineSettingListsAndDefaultsWithoutMacTable();
    void sendAndDisplayDefaults();
    void hexDisplayCannotBeChangedByTheUser();

    void sizeAndTitle();
    void threeVisibleAreasAndHiddenSendPanel();

    void slotTable();

    void buildStamp_data();
    void buildStamp();

    void qtOwnTextsInChinese_data();
    void qtOwnTextsInChinese();

private:
    QTemporaryDir m_workDir;
    // The window as constructed, never shown or touched, for the checks that only look.
    std::unique_ptr<MainWindow> m_window;
};

void tst_Window::initTestCase()
{
    initResources();
    // No config.ini and no mac.csv here: the window must come up without them.
    QVERIFY(m_workDir.isValid());
    QVERIFY(QDir::setCurrent(m_workDir.path()));
    QVERIFY(!QFile::exists(QStringLiteral("mac.csv")));
    m_window = std::make_unique<MainWindow>();
}

void tst_Window::objectsWithTheirClasses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");

    const auto row = [](const char *name, const char *cls) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls);
    };
    row("MainWindow", "MainWindow");
    row("centralwidget", "QWidget");
    row("gridLayout", "QGridLayout");
    // test area
    row("groupBox_4", "QGroupBox");
    row("gridLayout_11", "QGridLayout");
    row("frame_3", "QFrame");
    row("gridLayout_9", "QGridLayout");
    row("label_9", "QLabel");
    row("lineEdit_dytlz", "QLineEdit");
    row("label_10", "QLabel");
    row("lineEdit_dytlhfz", "QLineEdit");
    row("label_11", "QLabel");
    row("lineEdit_glyz", "QLineEdit");
    row("pushButton_yzsz", "QPushButton");
    row("frame_2", "QFrame");
    row("gridLayout_7", "QGridLayout");
    for (const char *n : {"pushButton_4", "pushButton_5", "pushButton_6", "pushButton_7",
                          "pushButton_8", "pushButton_9", "pushButton_10", "pushButton_11"})
        row(n, "QPushButton");
    row("frame_4", "QFrame");
    row("gridLayout_10", "QGridLayout");
    for (const char *n : {"label_12", "label_13", "label_14"})
        row(n, "QLabel");
    for (const char *n : {"lineEdit_sd1hh", "lineEdit_sd1mm", "lineEdit_sd2hh", "lineEdit_sd2mm",
                          "lineEdit_sd3hh", "lineEdit_sd3mm"})
        row(n, "QLineEdit");
    for (const char *n : {"pushButton_sd1", "pushButton_sd2", "pushButton_sd3"})
        row(n, "QPushButton");
    row("horizontalLayout", "QHBoxLayout");
    row("label_8", "QLabel");
    row("comboBox_md", "QComboBox");
    row("pushButton", "QPushButton");
    row("treeWidget", "QTreeWidget");
    // traffic window and port settings
    row("groupBox_6", "QGroupBox");
    row("gridLayout_5", "QGridLayout");
    row("textBrowser", "QPlainTextEdit");
    row("groupBox", "QGroupBox");
    row("gridLayout_8", "QGridLayout");
    row("formLayout", "QFormLayout");
    for (const char *n : {"label", "label_2", "label_3", "label_4", "label_5"})
        row(n, "QLabel");
    for (const char *n :
         {"comboBoxPort", "comboBoxBaud", "comboBoxData", "comboBoxParity", "comboBoxStop"})
        row(n, "QComboBox");
    row("checkBoxEcho", "QCheckBox");
    row("checkBoxRecieve", "QCheckBox");
    row("pushButtonClearDataRecieve", "QPushButton");
    // result window and general settings
    row("groupBox_5", "QGroupBox");
    row("gridLayout_6", "QGridLayout");
    row("textBrowser_val", "QPlainTextEdit");
    row("frame_21", "QFrame");
    row("gridLayout_14", "QGridLayout");
    row("groupBox_7", "QGroupBox");
    row("gridLayout_13", "QGridLayout");
    for (const char *n :
         {"horizontalLayout_2", "horizontalLayout_3", "horizontalLayout_4", "horizontalLayout_5",
          "horizontalLayout_6", "horizontalLayout_7", "horizontalLayout_8"})
        row(n, "QHBoxLayout");
    for (const char *n : {"lineEdit_rdmac", "lineEdit_sn", "lineEdit_wrmac", "lineEdit_datetime"})
        row(n, "QLineEdit");
    row("label_15", "QLabel");
    for (const char *n : {"pushButton_rdmac", "pushButton_wrmac", "pushButton_datatime",
                          "pushButton_alloff", "pushButton_allon", "pushButton_rm_ctrl_off",
                          "pushButton_rm_ctrl_on", "pushButton_2", "pushButton_deffac"})
        row(n, "QPushButton");
    row("frame_5", "QFrame");
    row("gridLayout_12", "QGridLayout");
    row("pushButton_3", "QPushButton");
    row("pushButtonClearCounterRecieve", "QPushButton");
    row("lcdNumberRecieve", "QLCDNumber");
    // the hidden send panel
    row("frame", "QFrame");
    row("gridLayout_2", "QGridLayout");
    row("groupBoxMessage", "QGroupBox");
    row("gridLayout_4", "QGridLayout");
    for (int n = 1; n <= 5; ++n) {
        const QByteArray check = "checkBoxSendEnable" + QByteArray::number(n);
        const QByteArray line = "lineEditSend" + QByteArray::number(n);
        const QByteArray send = "pushButtonSend" + QByteArray::number(n);
        QTest::newRow(check.constData()) << QString::fromLatin1(check) << "QCheckBox";
        QTest::newRow(line.constData()) << QString::fromLatin1(line) << "QLineEdit";
        QTest::newRow(send.constData()) << QString::fromLatin1(send) << "QPushButton";
    }
    row("groupBox_3", "QGroupBox");
    row("gridLayout_3", "QGridLayout");
    row("checkBoxSend", "QCheckBox");
    row("lcdNumberSend", "QLCDNumber");
    row("pushButtonClearCounterSend", "QPushButton");
    row("pushButtonClearDataSend", "QPushButton");
    row("checkBoxPoll", "QCheckBox");
    row("label_6", "QLabel");
    row("spinBoxInterval", "QSpinBox");
    row("label_7", "QLabel");
    // actions and bars
    for (const char *n :
         {"actionConnect", "actionClose", "actionSave", "actionRefresh", "actionExit",
          "actionmenu_file_sub5", "actionOpenRecordFolder", "actionExportRecord",
          "actionRecordWindow", "actionNewRecord", "actionRunPlan", "actionGuide", "actionAbout"})
        row(n, "QAction");
    row("mainMenubar", "QMenuBar");
    for (const char *n : {"menuFile", "menuEdit", "menuTest", "menuWindow", "menuHelp"})
        row(n, "QMenu");
    row("labelVerdict", "QLabel");
    row("mainToolBar", "QToolBar");
    row("statusbar", "QStatusBar");
}

void tst_Window::objectsWithTheirClasses()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    MainWindow &w = *m_window;
    const QList<QObject *> found = w.findChildren<QObject *>(name);
    if (name == w.objectName()) {
        QVERIFY(found.isEmpty());
        QCOMPARE(QString::fromLatin1(w.metaObject()->className()), className);
        return;
    }
    QCOMPARE(found.size(), 1); // slots are connected by name: one object per name
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
}

void tst_Window::layoutsOfContainers_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("layout");
    const auto row = [](const char *c, const char *l) {
        QTest::newRow(c) << QString::fromLatin1(c) << QString::fromLatin1(l);
    };
    row("centralwidget", "gridLayout");
    row("groupBox_4", "gridLayout_11");
    row("frame_3", "gridLayout_9");
    row("frame_2", "gridLayout_7");
    row("frame_4", "gridLayout_10");
    row("groupBox_6", "gridLayout_5");
    row("groupBox", "gridLayout_8");
    row("groupBox_5", "gridLayout_6");
    row("frame_21", "gridLayout_14");
    row("groupBox_7", "gridLayout_13");
    row("frame_5", "gridLayout_12");
    row("frame", "gridLayout_2");
    row("groupBoxMessage", "gridLayout_4");
    row("groupBox_3", "gridLayout_3");
}

void tst_Window::layoutsOfContainers()
{
    QFETCH(QString, container);
    QFETCH(QString, layout);
    MainWindow &w = *m_window;
    auto *box = w.findChild<QWidget *>(container);
    QVERIFY(box);
    QVERIFY(box->layout());
    QCOMPARE(box->layout()->objectName(), layout);
    if (container == QLatin1String("centralwidget")) {
        // Inside the scroll area that keeps it reachable on a small screen.
        auto *scroll = qobject_cast<QScrollArea *>(w.centralWidget());
        QVERIFY(scroll);
        QCOMPARE(scroll->widget(), box);
    }
}

void tst_Window::gridPlaces_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<int>("columnSpan");

    const auto cell = [](const char *grid, const char *name, int r, int c, int rs = 1, int cs = 1) {
        QTest::newRow(name) << QString::fromLatin1(grid) << QString::fromLatin1(name) << r << c
                            << rs << cs;
    };
    cell("gridLayout", "groupBox_4", 0, 0, 3, 1);
    cell("gridLayout", "groupBox_6", 0, 1);
    cell("gridLayout", "groupBox_5", 1, 1);
    cell("gridLayout", "frame", 2, 1);

    cell("gridLayout_11", "frame_3", 0, 0);
    cell("gridLayout_11", "frame_2", 0, 1);
    cell("gridLayout_11", "frame_4", 1, 0, 1, 2);
    cell("gridLayout_11", "horizontalLayout", 2, 0, 1, 2);
    cell("gridLayout_11", "treeWidget", 3, 0, 1, 2);

    cell("gridLayout_9", "label_9", 0, 0);
    cell("gridLayout_9", "lineEdit_dytlz", 0, 1);
    cell("gridLayout_9", "label_10", 1, 0);
    cell("gridLayout_9", "lineEdit_dytlhfz", 1, 1);
    cell("gridLayout_9", "label_11", 2, 0);
    cell("gridLayout_9", "lineEdit_glyz", 2, 1);
    cell("gridLayout_9", "pushButton_yzsz", 3, 0, 1, 2);

    cell("gridLayout_7", "pushButton_4", 0, 0);
    cell("gridLayout_7", "pushButton_5", 0, 1);
    cell("gridLayout_7", "pushButton_7", 1, 0);
    cell("gridLayout_7", "pushButton_6", 1, 1);
    cell("gridLayout_7", "pushButton_9", 2, 0);
    cell("gridLayout_7", "pushButton_8", 2, 1);
    cell("gridLayout_7", "pushButton_11", 3, 0);
    cell("gridLayout_7", "pushButton_10", 3, 1);

    cell("gridLayout_10", "label_12", 0, 0);
    cell("gridLayout_10", "lineEdit_sd1hh", 0, 1);
    cell("gridLayout_10", "lineEdit_sd1mm", 0, 2);
    cell("gridLayout_10", "pushButton_sd1", 0, 3);
    cell("gridLayout_10", "label_13", 1, 0);
    cell("gridLayout_10", "lineEdit_sd2hh", 1, 1);
    cell("gridLayout_10", "lineEdit_sd2mm", 1, 2);
    cell("gridLayout_10", "pushButton_sd2", 1, 3);
    cell("gridLayout_10", "label_14", 2, 0);
    cell("gridLayout_10", "lineEdit_sd3hh", 2, 1);
    cell("gridLayout_10", "lineEdit_sd3mm", 2, 2);
    cell("gridLayout_10", "pushButton_sd3", 2, 3);

    cell("gridLayout_5", "textBrowser", 0, 0);
    cell("gridLayout_5", "groupBox", 0, 1);
    cell("gridLayout_8", "formLayout", 0, 0);

    cell("gridLayout_6", "textBrowser_val", 0, 0);
    cell("gridLayout_6", "frame_21", 0, 1);
    cell("gridLayout_14", "groupBox_7", 0, 0);
    cell("gridLayout_14", "frame_5", 2, 0);
    cell("gridLayout_13", "horizontalLayout_2", 0, 0);
    cell("gridLayout_13", "horizontalLayout_6", 1, 0);
    cell("gridLayout_13", "horizontalLayout_3", 2, 0);
    cell("gridLayout_13", "horizontalLayout_5", 3, 0);
    cell("gridLayout_13", "horizontalLayout_4", 4, 0);
    cell("gridLayout_13", "horizontalLayout_7", 5, 0);
    cell("gridLayout_13", "horizontalLayout_8", 6, 0);
    cell("gridLayout_12", "pushButton_3", 0, 0);
    cell("gridLayout_12", "pushButtonClearCounterRecieve", 1, 0);
    cell("gridLayout_12", "lcdNumberRecieve", 1, 1);

    cell("gridLayout_2", "groupBoxMessage", 0, 0);
    cell("gridLayout_2", "groupBox_3", 0, 1);
    for (int n = 1; n <= 5; ++n) {
        for (const char *stem : {"checkBoxSendEnable", "lineEditSend", "pushButtonSend"}) {
            const QByteArray name = stem + QByteArray::number(n);
            const int column = stem[0] == 'c' ? 0 : stem[0] == 'l' ? 1 : 2;
            QTest::newRow(name.constData())
                << "gridLayout_4" << QString::fromLatin1(name) << n - 1 << column << 1 << 1;
        }
    }
    cell("gridLayout_3", "checkBoxSend", 0, 0, 1, 3);
    cell("gridLayout_3", "lcdNumberSend", 1, 0, 1, 4);
    cell("gridLayout_3", "pushButtonClearCounterSend", 3, 0, 1, 2);
    cell("gridLayout_3", "pushButtonClearDataSend", 3, 3);
    cell("gridLayout_3", "checkBoxPoll", 4, 0, 1, 3);
    cell("gridLayout_3", "label_6", 5, 0);
    cell("gridLayout_3", "spinBoxInterval", 5, 1, 1, 2);
    cell("gridLayout_3", "label_7", 5, 3);
}

void tst_Window::gridPlaces()
{
    QFETCH(QString, grid);
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, rowSpan);
    QFETCH(int, columnSpan);
    MainWindow &w = *m_window;
    auto *layout = w.findChild<QGridLayout *>(grid);
    QObject *item = w.findChild<QObject *>(name);
    QVERIFY(layout);
    QVERIFY(item);
    int r = -1, c = -1, rs = -1, cs = -1;
    QVERIFY2(gridCell(layout, item, &r, &c, &rs, &cs), "not in this grid");
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, rowSpan);
    QCOMPARE(cs, columnSpan);
}

void tst_Window::rowsLeftToRight_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("widgets");
    QTest::newRow("module row") << "horizontalLayout"
                                << QStringList{"label_8", "comboBox_md", "pushButton"};
    QTest::newRow("read MAC") << "horizontalLayout_2"
                              << QStringList{"lineEdit_rdmac", "pushButton_rdmac"};
    QTest::newRow("serial number")
        << "horizontalLayout_6" << QStringList{"label_15", "lineEdit_sn"};
    QTest::newRow("write MAC") << "horizontalLayout_3"
                               << QStringList{"lineEdit_wrmac", "pushButton_wrmac"};
    QTest::newRow("clock") << "horizontalLayout_5"
                           << QStringList{"lineEdit_datetime", "pushButton_datatime"};
    QTest::newRow("all breakers") << "horizontalLayout_4"
                                  << QStringList{"pushButton_alloff", "pushButton_allon"};
    QTest::newRow("remote control all")
        << "horizontalLayout_7" << QStringList{"pushButton_rm_ctrl_off", "pushButton_rm_ctrl_on"};
    QTest::newRow("clock read and defaults")
        << "horizontalLayout_8" << QStringList{"pushButton_2", "pushButton_deffac"};
}

void tst_Window::rowsLeftToRight()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, widgets);
    MainWindow &w = *m_window;
    auto *row = w.findChild<QHBoxLayout *>(layout);
    QVERIFY(row);
    QStringList seen;
    for (int i = 0; i < row->count(); ++i)
        if (QWidget *child = row->itemAt(i)->widget())
            seen << child->objectName();
    QCOMPARE(seen, widgets);
    QCOMPARE(row->count(), widgets.size()); // no spacers or stretches between them
}

void tst_Window::portSettingsForm()
{
    MainWindow &w = *m_window;
    auto *form = w.findChild<QFormLayout *>("formLayout");
    QVERIFY(form);
    const struct
    {
        int row;
        const char *label;
        const char *field;
    } rows[] = {{0, "label", "comboBoxPort"},    {1, "label_2", "comboBoxBaud"},
                {2, "label_3", "comboBoxData"},  {3, "label_4", "comboBoxParity"},
                {4, "label_5", "comboBoxStop"},  {5, nullptr, "checkBoxEcho"},
                {7, nullptr, "checkBoxRecieve"}, {8, nullptr, "pushButtonClearDataRecieve"}};
    for (const auto &r : rows) {
        int row = -1;
        QFormLayout::ItemRole role;
        form->getWidgetPosition(w.findChild<QWidget *>(r.field), &row, &role);
        QCOMPARE(row, r.row);
        QCOMPARE(role, QFormLayout::FieldRole);
        QLayoutItem *label = form->itemAt(r.row, QFormLayout::LabelRole);
        if (r.label) {
            QVERIFY(label && label->widget());
            QCOMPARE(label->widget()->objectName(), QString::fromLatin1(r.label));
        } else {
            QVERIFY(!label);
        }
    }
    // Row 6: the spacer that pushes the last two rows down.
    QLayoutItem *spacer = form->itemAt(6, QFormLayout::FieldRole);
    QVERIFY(spacer && spacer->spacerItem());
    QCOMPARE(spacer->sizeHint(), QSize(20, 40));
    QCOMPARE(spacer->expandingDirections(), Qt::Vertical);
}

void tst_Window::spacingsAndMargins_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QList<int>>("margins"); // left, top, right, bottom
    QTest::newRow("gridLayout") << "gridLayout" << 1 << QList<int>{1, 1, 1, 1};
    QTest::newRow("gridLayout_9") << "gridLayout_9" << 0 << QList<int>{0, 0, 0, 0};
    QTest::newRow("gridLayout_7") << "gridLayout_7" << 0 << QList<int>{0, 0, 0, 0};
    QTest::newRow("gridLayout_10") << "gridLayout_10" << 0 << QList<int>{0, 0, 0, 0};
    QTest::newRow("gridLayout_5") << "gridLayout_5" << 0 << QList<int>{0, 4, 0, 0};
    QTest::newRow("gridLayout_6") << "gridLayout_6" << 0 << QList<int>{0, 4, 0, 0};
    QTest::newRow("gridLayout_12") << "gridLayout_12" << 1 << QList<int>{1, 1, 1, 1};
}

void tst_Window::spacingsAndMargins()
{
    QFETCH(QString, layout);
    QFETCH(int, spacing);
    QFETCH(QList<int>, margins);
    MainWindow &w = *m_window;
    auto *l = w.findChild<QLayout *>(layout);
    QVERIFY(l);
    QCOMPARE(l->spacing(), spacing);
    const QMargins m = l->contentsMargins();
    QCOMPARE((QList<int>{m.left(), m.top(), m.right(), m.bottom()}), margins);
}

void tst_Window::sizeLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    const int M = kQtMaxSize;
    const auto row = [](const char *n, QSize min, QSize max) {
        QTest::newRow(n) << QString::fromLatin1(n) << min << max;
    };
    row("centralwidget", {0, 0}, {M, M});
    row("groupBox_4", {365, 0}, {400, M});
    row("groupBox_6", {0, 0}, {M, 280});
    row("frame", {0, 0}, {M, 1});
    row("frame_3", {0, 0}, {160, M});
    row("comboBox_md", {0, 22}, {M, M});
    row("groupBox", {320, 0}, {320, M});
    row("comboBoxBaud", {0, 0}, {M, M});
    row("textBrowser_val", {209, 0}, {M, M});
    row("frame_21", {320, 0}, {320, M});
    row("groupBox_7", {0, 0}, {M, M});
    row("pushButton_rdmac", {0, 25}, {80, M});
    row("pushButton_wrmac", {0, 25}, {80, M});
    row("lineEdit_datetime", {0, 0}, {M, M});
    row("pushButton_datatime", {0, 25}, {80, M});
    for (const char *n : {"pushButton_alloff", "pushButton_allon", "pushButton_rm_ctrl_off",
                          "pushButton_rm_ctrl_on", "pushButton_2", "pushButton_deffac"})
        row(n, {0, 25}, {M, M});
    row("frame_5", {0, 0}, {M, 80});
    row("lcdNumberRecieve", {0, 20}, {M, M});
    row("groupBox_3", {280, 0}, {M, M});
    row("lcdNumberSend", {0, 40}, {M, M});
    row("checkBoxPoll", {0, 0}, {M, M});
}

void tst_Window::sizeLimits()
{
    QFETCH(QString, name);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    MainWindow &w = *m_window;
    auto *widget = w.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->minimumSize(), minimum);
    QCOMPARE(widget->maximumSize(), maximum);
}

void tst_Window::sizePolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::newRow("groupBox") << "groupBox" << int(QSizePolicy::Preferred)
                              << int(QSizePolicy::Preferred);
    QTest::newRow("textBrowser_val")
        << "textBrowser_val" << int(QSizePolicy::Expanding) << int(QSizePolicy::Expanding);
    QTest::newRow("frame_5") << "frame_5" << int(QSizePolicy::Preferred)
                             << int(QSizePolicy::Minimum);
}

void tst_Window::sizePolicies()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    MainWindow &w = *m_window;
    auto *widget = w.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(int(widget->sizePolicy().horizontalPolicy()), horizontal);
    QCOMPARE(int(widget->sizePolicy().verticalPolicy()), vertical);
}

void tst_Window::frames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("shape");
    QTest::addColumn<int>("shadow");
    QTest::addColumn<int>("lineWidth");
    QTest::newRow("frame") << "frame" << int(QFrame::Box) << int(QFrame::Raised) << 2;
    QTest::newRow("frame_3") << "frame_3" << int(QFrame::Box) << int(QFrame::Sunken) << 1;
    QTest::newRow("frame_2") << "frame_2" << int(QFrame::Box) << int(QFrame::Sunken) << 1;
    QTest::newRow("frame_4") << "frame_4" << int(QFrame::StyledPanel) << int(QFrame::Raised) << 1;
    QTest::newRow("frame_5") << "frame_5" << int(QFrame::StyledPanel) << int(QFrame::Raised) << 1;
    QTest::newRow("treeWidget line width 0")
        << "treeWidget" << int(QFrame::StyledPanel) << int(QFrame::Sunken) << 0;
}

void tst_Window::frames()
{
    QFETCH(QString, name);
    QFETCH(int, shape);
    QFETCH(int, shadow);
    QFETCH(int, lineWidth);
    MainWindow &w = *m_window;
    auto *frame = w.findChild<QFrame *>(name);
    QVERIFY(frame);
    QCOMPARE(int(frame->frameShape()), shape);
    QCOMPARE(int(frame->frameShadow()), shadow);
    QCOMPARE(frame->lineWidth(), lineWidth);
}

void tst_Window::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *property, const QString &text) {
        QTest::newRow(QByteArray(name).append(' ').append(property).constData())
            << QString::fromLatin1(name) << QByteArray(property) << text;
    };
    const auto text = [&row](const char *name, const QString &t) { row(name, "text", t); };
    const auto title = [&row](const char *name, const QString &t) { row(name, "title", t); };

    row("MainWindow", "windowTitle", "FeederBench[1.0]");
    title("groupBox_4", "测试条目");
    title("groupBox_6", "报文收发");
    title("groupBox_5", "modbus报文解析");
    text("label_9", "低压脱离值：");
    text("label_10", "脱离恢复值：");
    text("label_11", "  过流阈值："); // two leading blanks
    text("pushButton_yzsz", "阈值设置");
    text("pushButton_4", "合闸");
    text("pushButton_5", "分闸");
    text("pushButton_7", "远控关闭");
    text("pushButton_6", "远控使能");
    text("pushButton_9", "脱离关闭");
    text("pushButton_8", "脱离使能");
    text("pushButton_11", "时段控关闭");
    text("pushButton_10", "时段控使能");
    text("label_12", "时段1设置：");
    text("label_13", "时段2设置：");
    text("label_14", "时段3设置：");
    text("pushButton_sd1", "设置");
    text("pushButton_sd2", "设置");
    text("pushButton_sd3", "设置");
    text("label_8", "操作模块：");
    text("pushButton", "选中读测试");

    title("groupBox", "串口配置");
    text("label", "串口号：");
    text("label_2", "波特率：");
    text("label_3", "数据位：");
    text("label_4", "校验位：");
    text("label_5", "停止位：");
    text("checkBoxEcho", "去除回显");
    text("checkBoxRecieve", "十六进制显示");
    text("pushButtonClearDataRecieve", "清除数据");

    title("groupBox_7", "全局配置");
    text("pushButton_rdmac", "mac读取");
    text("label_15", "设备SN：");
    text("pushButton_wrmac", "mac设置");
    row("lineEdit_wrmac", "toolTip",
        "<html><head/><body><p>输入需要设置的MAC地址，设置后会自动增加1。"
        "也可以通过输入设备SN，自动获取MAC地址。</p></body></html>");
    text("pushButton_datatime", "设置时间");
    row("lineEdit_datetime", "toolTip",
        "读取时间在此显示设备的时间；设置时间写入的是电脑的当前时间，不是此框中的内容");
    text("pushButton_alloff", "全部分闸");
    text("pushButton_allon", "全部合闸");
    text("pushButton_rm_ctrl_off", "远控关闭all");
    text("pushButton_rm_ctrl_on", "远控使能all");
    text("pushButton_2", "读取时间");
    text("pushButton_deffac", "恢复出厂默认");
    text("pushButton_3", "清除数据");
    text("pushButtonClearCounterRecieve", "清除计数");

    title("groupBoxMessage", "信息发送");
    for (int n = 1; n <= 5; ++n) {
        const QByteArray check = "checkBoxSendEnable" + QByteArray::number(n);
        const QByteArray send = "pushButtonSend" + QByteArray::number(n);
        text(check.constData(), QStringLiteral("消息%1").arg(n));
        text(send.constData(), "发送");
    }
    title("groupBox_3", "发送配置");
    text("checkBoxSend", "十六进制发送");
    text("pushButtonClearCounterSend", "清除计数");
    text("pushButtonClearDataSend", "清除数据");
    text("checkBoxPoll", "自动循环发送");
    text("label_6", "间隔");
    text("label_7", "毫秒");

    text("actionConnect", "打开串口");
    row("actionConnect", "toolTip", "建立连接");
    text("actionClose", "关闭串口");
    row("actionClose", "toolTip", "断开连接");
    text("actionSave", "保存消息");
    row("actionSave", "toolTip", "保存消息窗的数据");
    text("actionRefresh", "刷新串口");
    row("actionRefresh", "toolTip", "刷新串口列表");
    text("actionExit", "退出(&X)");
    text("actionmenu_file_sub5", "menu_file_sub5");
    text("actionOpenRecordFolder", "打开记录文件夹");

    title("menuFile", "文件(&F)");
    title("menuEdit", "编辑(&E)");
    title("menuWindow", "窗口(&W)");
    title("menuHelp", "帮助(&H)");
    row("mainToolBar", "windowTitle", "toolBar");
}

void tst_Window::texts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, expected);
    MainWindow &w = *m_window;
    QObject *o = object(w, name);
    QVERIFY(o);
    const QVariant value = o->property(property.constData());
    QVERIFY2(value.isValid(), "no such property");
    QCOMPARE(value.toString(), expected);
}

void tst_Window::inputMasksAndStartingTexts()
{
    MainWindow &w = *m_window;
    // inputMask() gives the mask followed by ";" and the blank character.
    const auto mask = [&w](const char *name) {
        return widget<QLineEdit>(w, name)->inputMask().section(QLatin1Char(';'), 0, 0);
    };
    QCOMPARE(mask("lineEdit_rdmac"), QStringLiteral("XX:XX:XX:XX:XX:XX"));
    // Hexadecimal digits only, whatever block config.ini gives the line (a
    // "0" or "9" in a mask is a digit placeholder, not a fixed prefix).
    QCOMPARE(mask("lineEdit_wrmac"), QStringLiteral("HH:HH:HH:HH:HH:HH"));
    QCOMPARE(mask("lineEdit_datetime"), QStringLiteral("xxxx-xx-xx xx:xx:xx"));

    QCOMPARE(widget<QLineEdit>(w, "lineEdit_wrmac")->text(), QStringLiteral("00:39:28:90:00:00"));
    // Empty, with the colons of the mask showing.
    auto *rdmac = widget<QLineEdit>(w, "lineEdit_rdmac");
    QCOMPARE(QString(rdmac->text()).remove(QLatin1Char(':')), QString());
    QCOMPARE(rdmac->displayText().count(QLatin1Char(':')), 5);

    for (const char *name :
         {"lineEdit_dytlz", "lineEdit_dytlhfz", "lineEdit_glyz", "lineEdit_sd1hh", "lineEdit_sd1mm",
          "lineEdit_sd2hh", "lineEdit_sd2mm", "lineEdit_sd3hh", "lineEdit_sd3mm", "lineEdit_sn",
          "lineEditSend1", "lineEditSend2", "lineEditSend3", "lineEditSend4", "lineEditSend5"}) {
        auto *edit = widget<QLineEdit>(w, name);
        QVERIFY2(edit && edit->text().isEmpty() && edit->inputMask().isEmpty(), name);
    }
    QVERIFY(widget<QLabel>(w, "label_15")->isEnabled());
    QVERIFY(widget<QLineEdit>(w, "lineEdit_sn")->isEnabled());
}

void tst_Window::otherWidgetProperties()
{
    MainWindow &w = *m_window;
    auto *tree = widget<QTreeWidget>(w, "treeWidget");
    QCOMPARE(tree->columnCount(), 1);
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("条目"));

    QCOMPARE(widget<QPlainTextEdit>(w, "textBrowser")->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(widget<QPlainTextEdit>(w, "textBrowser_val")->contextMenuPolicy(),
             Qt::CustomContextMenu);

    for (const char *name : {"lcdNumberRecieve", "lcdNumberSend"}) {
        auto *lcd = widget<QLCDNumber>(w, name);
        QCOMPARE(lcd->digitCount(), 9);
        QCOMPARE(lcd->mode(), QLCDNumber::Dec);
        QCOMPARE(lcd->intValue(), 0);
    }

    auto *interval = widget<QSpinBox>(w, "spinBoxInterval");
    QCOMPARE(interval->minimum(), 0);
    QCOMPARE(interval->maximum(), 100000);
    QVERIFY(interval->alignment() & Qt::AlignRight);
    QVERIFY(interval->alignment() & Qt::AlignVCenter);

    QCOMPARE(widget<QComboBox>(w, "comboBoxPort")->isEditable(), true); // a typed pty path opens
}

void tst_Window::actionsInMenusAndToolBar()
{
    MainWindow &w = *m_window;
    auto *bar = widget<QMenuBar>(w, "mainMenubar");
    QCOMPARE(w.menuBar(), bar);
    QCOMPARE(actionNames(bar->actions()),
             (QStringList{"menuFile", "menuEdit", "menuTest", "menuWindow", "menuHelp"}));
    QCOMPARE(actionNames(widget<QMenu>(w, "menuFile")->actions()),
             (QStringList{"actionConnect", "actionClose", "actionSave", "actionOpenRecordFolder",
                          "actionRefresh", "actionExportRecord", "actionNewRecord",
                          "actionExit"})); // no separators either
    QCOMPARE(actionNames(widget<QMenu>(w, "menuWindow")->actions()),
             QStringList{"actionRecordWindow"});
    QCOMPARE(actionNames(widget<QMenu>(w, "menuTest")->actions()), QStringList{"actionRunPlan"});
    QCOMPARE(actionNames(widget<QMenu>(w, "menuHelp")->actions()),
             (QStringList{"actionGuide", "actionAbout"}));
    QVERIFY(widget<QMenu>(w, "menuEdit")->actions().isEmpty());

    auto *tools = widget<QToolBar>(w, "mainToolBar");
    QCOMPARE(actionNames(tools->actions()),
             (QStringList{"actionConnect", "actionClose", "actionSave", "actionRefresh",
                          "actionRunPlan"}));
    QCOMPARE(tools->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    QCOMPARE(w.toolBarArea(tools), Qt::TopToolBarArea);

    QCOMPARE(w.statusBar(), widget<QStatusBar>(w, "statusbar"));
    // Defined but placed nowhere.
    QVERIFY(widget<QAction>(w, "actionmenu_file_sub5")->associatedWidgets().isEmpty());

    const struct
    {
        const char *action;
        const char *keys;
    } shortcuts[] = {{"actionConnect", "Ctrl+O"}, {"actionClose", "Ctrl+C"},
                     {"actionSave", "Ctrl+S"},    {"actionRefresh", "Ctrl+R"},
                     {"actionExit", ""},          {"actionmenu_file_sub5", "Ctrl+Y"},
                     {"actionRunPlan", "F5"}};
    for (const auto &s : shortcuts)
        QCOMPARE(widget<QAction>(w, s.action)->shortcut(),
                 QKeySequence(QString::fromLatin1(s.keys)));
}

void tst_Window::actionsStartEnabledAndNotCheckable()
{
    MainWindow &w = *m_window;
    for (const char *name :
         {"actionConnect", "actionClose", "actionSave", "actionRefresh", "actionExit",
          "actionmenu_file_sub5", "actionExportRecord", "actionRecordWindow", "actionNewRecord",
          "actionGuide", "actionAbout"}) {
        auto *action = widget<QAction>(w, name);
        QVERIFY2(action->isEnabled(), name);
        QVERIFY2(!action->isCheckable(), name);
    }
}

void tst_Window::icons_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("pixels");
    QTest::newRow("open") << "actionConnect"
                          << ":/images/images/open.png" << QSize(128, 128);
    QTest::newRow("close") << "actionClose"
                           << ":/images/images/close.png" << QSize(128, 128);
    QTest::newRow("save") << "actionSave"
                          << ":/images/images/save.png" << QSize(128, 128);
    QTest::newRow("refresh") << "actionRefresh"
                             << ":/images/images/refresh.png" << QSize(32, 32);
    QTest::newRow("exit") << "actionExit"
                          << ":/images/images/exit.png" << QSize(22, 22);
    // No icon theme offers "yyyyyyyyyy", so the fallback shows.
    QTest::newRow("menu_file_sub5 falls back to refresh")
        << "actionmenu_file_sub5"
        << ":/images/images/refresh.png" << QSize(32, 32);
}

void tst_Window::icons()
{
    QFETCH(QString, action);
    QFETCH(QString, path);
    QFETCH(QSize, pixels);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), pixels);

    MainWindow &w = *m_window;
    const QIcon icon = widget<QAction>(w, action.toLatin1().constData())->icon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(QIcon::Normal, QIcon::Off), QList<QSize>{pixels});
    // The very picture of the resource, not another one of the same size.
    QCOMPARE(icon.pixmap(pixels).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void tst_Window::moduleList()
{
    MainWindow &w = *m_window;
    auto *modules = widget<QComboBox>(w, "comboBox_md");
    QCOMPARE(itemTexts(modules), (QStringList{"0", "1", "2", "3", "4", "5", "10"}));
    QCOMPARE(modules->currentIndex(), 0);
}

namespace {

void turnWheelOver(QWidget *target, int notches)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(at, target->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, -120 * notches),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
}

} // namespace

void tst_Window::moduleBoxTurnsWithTheWheelOnlyWhenFocused()
{
    MainWindow w;
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *modules = widget<QComboBox>(w, "comboBox_md");
    widget<QLineEdit>(w, "lineEdit_sn")->setFocus();
    turnWheelOver(modules, 2);
    QCOMPARE(modules->currentText(), QStringLiteral("0"));

    modules->setFocus();
    QTRY_VERIFY(modules->hasFocus());
    turnWheelOver(modules, 2);
    QVERIFY(modules->currentIndex() > 0);
}

void tst_Window::lineSettingListsAndDefaultsWithoutMacTable_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("selected");
    QTest::newRow("baud rates") << "comboBoxBaud"
                                << QStringList{"9600",   "14400",  "19200", "28800",
                                               "38400",  "56000",  "57600", "115200",
                                               "128000", "230400", "256000"}
                                << "9600";
    QTest::newRow("data bits") << "comboBoxData" << QStringList{"7位", "8位", "9位"} << "8位";
    QTest::newRow("parity") << "comboBoxParity" << QStringList{"无校验", "奇校验", "偶校验"}
                            << "无校验";
    QTest::newRow("stop bits") << "comboBoxStop" << QStringList{"1位", "1.5位", "2位"} << "1位";
}

void tst_Window::lineSettingListsAndDefaultsWithoutMacTable()
{
    QFETCH(QString, combo);
    QFETCH(QStringList, items);
    QFETCH(QString, selected);
    MainWindow &w = *m_window;
    auto *box = w.findChild<QComboBox *>(combo);
    QVERIFY(box);
    QCOMPARE(itemTexts(box), items);
    QCOMPARE(box->currentText(), selected);
    for (int i = 0; i < box->count(); ++i)
        QVERIFY(!box->itemData(i).isValid());
}

void tst_Window::sendAndDisplayDefaults()
{
    MainWindow &w = *m_window;
    QCOMPARE(widget<QSpinBox>(w, "spinBoxInterval")->value(), 1000);
    QVERIFY(widget<QCheckBox>(w, "checkBoxSend")->isChecked());
    QVERIFY(widget<QCheckBox>(w, "checkBoxRecieve")->isChecked());
    QVERIFY(!widget<QCheckBox>(w, "checkBoxRecieve")->isEnabled());
    QVERIFY(!widget<QCheckBox>(w, "checkBoxPoll")->isChecked());
    QVERIFY(!widget<QCheckBox>(w, "checkBoxEcho")->isChecked()); // most adapters do not echo
}

void tst_Window::hexDisplayCannotBeChangedByTheUser()
{
    MainWindow w; // shown, so not the shared one
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *hex = widget<QCheckBox>(w, "checkBoxRecieve");
    QVERIFY(hex->isVisible());
    QTest::mouseClick(hex, Qt::LeftButton);
    hex->click(); // what a click would do if it got through; a disabled box ignores it too
    QTest::keyClick(hex, Qt::Key_Space);
    QVERIFY(hex->isChecked());
}

void tst_Window::sizeAndTitle()
{
    MainWindow &w = *m_window;
    QCOMPARE(w.minimumSize(), QSize(1400, 900));
    QCOMPARE(w.size(), QSize(1400, 900)); // grown from the form's 1087 x 846
    QCOMPARE(w.windowTitle(), QStringLiteral("FeederBench[1.0]"));
    QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(widget<QMenuBar>(w, "mainMenubar")->objectName(), QStringLiteral("mainMenubar"));
}

void tst_Window::threeVisibleAreasAndHiddenSendPanel()
{
    MainWindow w; // shown, so not the shared one
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget *central = w.centralWidget();
    const auto area = [&](const char *name) {
        auto *widget = w.findChild<QWidget *>(QString::fromLatin1(name));
        return QRect(widget->mapTo(central, QPoint(0, 0)), widget->size());
    };

    for (const char *name : {"groupBox_4", "groupBox_6", "groupBox_5", "textBrowser", "groupBox",
                             "textBrowser_val", "groupBox_7", "frame_5", "treeWidget"})
        QVERIFY2(widget<QWidget>(w, name)->isVisible(), name);
    for (const char *name : {"groupBoxMessage", "groupBox_3", "lineEditSend1", "checkBoxSend"})
        QVERIFY2(!widget<QWidget>(w, name)->isVisible(), name);

    QCOMPARE(widget<QFrame>(w, "frame")->maximumHeight(), 1);
    QVERIFY(area("frame").height() <= 1);

    // Test area on the left over the full height; traffic above results on the right.
    const QRect tests = area("groupBox_4");
    const QRect traffic = area("groupBox_6");
    const QRect results = area("groupBox_5");
    QVERIFY(tests.right() < traffic.left());
    QVERIFY(tests.right() < results.left());
    QVERIFY(traffic.bottom() < results.top());
    QVERIFY(tests.bottom() >= results.bottom());
    QVERIFY(traffic.height() <= 280);
    QVERIFY(results.height() > traffic.height()); // the rest of the height goes to the results
    // The settings sit to the right of their windows.
    QVERIFY(area("textBrowser").right() < area("groupBox").left());
    QVERIFY(area("textBrowser_val").right() < area("groupBox_7").left());
    QVERIFY(area("groupBox_7").bottom() < area("frame_5").top());
}

void tst_Window::slotTable()
{
    const QMetaObject &mo = MainWindow::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("MainWindow"));
    QCOMPARE(mo.superClass(), &QMainWindow::staticMetaObject);

    const QList<QByteArray> expected = {
        "on_actionExit_triggered()",
        "on_actionConnect_triggered()",
        "on_actionClose_triggered()",
        "on_actionSave_triggered()",
        "on_actionRefresh_triggered()",
        "on_pushButtonClearCounterRecieve_clicked()",
        "on_pushButtonClearDataRecieve_clicked()",
        "on_pushButtonClearCounterSend_clicked()",
        "on_pushButtonClearDataSend_clicked()",
        "on_checkBoxPoll_clicked(bool)",
        "ReadSerialData()",
        "CycleSendData()",
        "SingleSendData()",
        "slotMenuPopup(QPoint)",
        "slotMenuPopup_all()",
        "slotMenuPopup_no()",
        "ItemCheckChanged(QTreeWidgetItem*,int)",
        "on_treeWidget_clicked(QModelIndex)",
        "on_treeWidget_customContextMenuRequested(QPoint)",
        "on_pushButton_clicked()",
        "on_pushButtonSend1_clicked()",
        "on_pushButton_3_clicked()",
        "on_pushButton_4_clicked()",
        "on_pushButton_5_clicked()",
        "on_pushButton_6_clicked()",
        "on_pushButton_7_clicked()",
        "on_pushButton_8_clicked()",
        "on_pushButton_9_clicked()",
        "on_pushButton_10_clicked()",
        "on_pushButton_11_clicked()",
        "on_pushButton_yzsz_clicked()",
        "on_pushButton_sd1_clicked()",
        "on_pushButton_sd2_clicked()",
        "on_pushButton_sd3_clicked()",
        "on_pushButton_datatime_clicked()",
        "on_textBrowser_customContextMenuRequested(QPoint)",
        "on_textBrowser_val_customContextMenuRequested(QPoint)",
        "on_pushButton_rdmac_clicked()",
        "on_pushButton_wrmac_clicked()",
        "on_pushButton_alloff_clicked()",
        "on_pushButton_allon_clicked()",
        "on_pushButton_deffac_clicked()",
        "on_pushButton_rm_ctrl_on_clicked()",
        "on_pushButton_rm_ctrl_off_clicked()",
        "on_lineEdit_returnPressed()",
        "on_lineEdit_sn_returnPressed()",
        "on_lineEdit_sn_editingFinished()",
        "on_pushButton_2_clicked()",
        "reg_rd(ushort)",
        "on_pushButton_stop_clicked()",
        "on_actionOpenRecordFolder_triggered()",
        "on_actionExportRecord_triggered()",
        "on_actionRecordWindow_triggered()",
        "on_actionNewRecord_triggered()",
        "on_actionGuide_triggered()",
        "on_actionAbout_triggered()",
        "on_actionRunPlan_triggered()",
    };
    QCOMPARE(expected.size(), 57);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 57);
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        QCOMPARE(m.methodSignature(), expected.at(i));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
        QCOMPARE(m.returnType(), int(QMetaType::Void));
    }
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
    QCOMPARE(mo.enumeratorCount(), mo.enumeratorOffset());
    QCOMPARE(mo.classInfoCount(), mo.classInfoOffset());
    QCOMPARE(mo.constructorCount(), 0);
}

void tst_Window::buildStamp_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<QString>("title");
    // The compiler writes __DATE__ as "Mmm dd yyyy" with a blank before a
    // one-digit day and __TIME__ as "hh:mm:ss".
    QTest::newRow("day 7 gets its zero") << QByteArray("Nov  7 2024") << QByteArray("09:29:33")
                                         << "FeederBench[1.0]_[2024-11-07 09:29:33]";
    QTest::newRow("day 1, new year") << QByteArray("Jan  1 2025") << QByteArray("00:00:00")
                                     << "FeederBench[1.0]_[2025-01-01 00:00:00]";
    QTest::newRow("day 10 unchanged") << QByteArray("Oct 10 2024") << QByteArray("12:00:01")
                                      << "FeederBench[1.0]_[2024-10-10 12:00:01]";
    QTest::newRow("day 31 unchanged") << QByteArray("Dec 31 2023") << QByteArray("23:59:59")
                                      << "FeederBench[1.0]_[2023-12-31 23:59:59]";
    QTest::newRow("leap day") << QByteArray("Feb 29 2024") << QByteArray("18:05:09")
                              << "FeederBench[1.0]_[2024-02-29 18:05:09]";
    QTest::newRow("May, a full month name of three letters")
        << QByteArray("May  3 2024") << QByteArray("07:08:09")
        << "FeederBench[1.0]_[2024-05-03 07:08:09]";
}

void tst_Window::buildStamp()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, time);
    QFETCH(QString, title);
    QCOMPARE(
        titleWithBuildStamp(QStringLiteral("FeederBench[1.0]"), date.constData(), time.constData()),
        title);
}

// Qt's dialogs and standard buttons speak Chinese on a Chinese system, and on
// Windows whatever the system says; elsewhere they keep Qt's English.
void tst_Window::qtOwnTextsInChinese_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("cancel");
    QTest::addColumn<QString>("lookIn");
#ifdef Q_OS_WIN
    const bool alwaysChinese = true;
#else
    const bool alwaysChinese = false;
#endif
    QTest::newRow("zh_CN") << "zh_CN"
                           << "取消"
                           << "查找范围：";
    QTest::newRow("zh_TW") << "zh_TW"
                           << "取消"
                           << "查找范围：";
    QTest::newRow("en_US") << "en_US" << (alwaysChinese ? "取消" : "Cancel")
                           << (alwaysChinese ? "查找范围：" : "Look in:");
}

void tst_Window::qtOwnTextsInChinese()
{
    QFETCH(QString, locale);
    QFETCH(QString, cancel);
    QFETCH(QString, lookIn);
    std::unique_ptr<QTranslator> translator(installQtTranslations(qApp, QLocale(locale)));
    // The standard button's text and the file dialog's label, as Qt looks them up.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
