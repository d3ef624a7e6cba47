// The test plan in the window: 一键测试 on the unit in the serial-number field,
// the scan that starts it, and the verdict that stays until the next unit.

#include "app/mainwindow.h"
#include "config/mactable.h"
#include "device/plan.h"
#include "device/planrun.h"
#include "device/runrecord.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

namespace {

// Beside config.ini, in the folder the program starts in.
const char kPlanFile[] = "plan.ini";

QString verdictColour(UnitRun::Verdict verdict)
{
    switch (verdict) {
    case UnitRun::Pass:
        return QStringLiteral("#1e7e34");
    case UnitRun::Fail:
        return QStringLiteral("#c62828");
    case UnitRun::Aborted:
        break;
    }
    return QStringLiteral("#b45f06");
}

} // namespace

void MainWindow::on_actionRunPlan_triggered()
{
    runTestPlan();
}

// Whether there is a plan is seen once, at start: the plan itself is read
// afresh at every press, so an edit counts from the next unit on.
void MainWindow::setUpTestPlan()
{
    ui->labelVerdict->hide();
    const bool hasPlan = QFileInfo::exists(QLatin1String(kPlanFile));
    ui->actionRunPlan->setEnabled(hasPlan);
    if (!hasPlan)
        ui->actionRunPlan->setToolTip(
            QStringLiteral("没有测试计划 plan.ini：把 examples/plan.ini（装在 "
                           "/usr/share/doc/feederbench/examples/ 中）复制到 config.ini "
                           "所在的文件夹，按本产线修改后重新启动"));
    // A new serial number is a new unit: the last unit's verdict goes.
    connect(ui->lineEdit_sn, &QLineEdit::textChanged, this, [this] { clearVerdict(); });
    // Queued: the lookup of the serial number (config/macwindow.cpp) comes first.
    connect(ui->lineEdit_sn, &QLineEdit::returnPressed, this, &MainWindow::startPlanAfterScan,
            Qt::QueuedConnection);
}

// A scan ends with Enter; a unit that mac.csv knows starts the plan when the
// plan says so.
void MainWindow::startPlanAfterScan()
{
    if (!ui->actionRunPlan->isEnabled() || m_matchedSn.isEmpty()
        || m_matchedSn != ui->lineEdit_sn->text())
        return;
    TestPlan plan;
    PlanError error;
    // A bad plan says what is wrong when the engineer presses 一键测试.
    if (loadPlanFile(QLatin1String(kPlanFile), &plan, &error) && plan.autostart)
        runTestPlan();
}

void MainWindow::runTestPlan()
{
    const Operation operation(this);
    if (!operation)
        return;
    TestPlan plan;
    PlanError error;
    if (!loadPlanFile(QLatin1String(kPlanFile), &plan, &error)) {
        resultLine(error.text(), Tone::Bad);
        return;
    }
    const QString sn = ui->lineEdit_sn->text().trimmed();
    if (sn.isEmpty()) {
        resultLine(QStringLiteral("设备SN为空：请先输入或扫描设备SN，一键测试未运行"), Tone::Bad);
        return;
    }
    clearVerdict();
    beginRun(plan.checks());
    // The engineer would not open the port, or it would not open: nothing
    // was tested, so there is no run to record and no verdict.
    if (!operationGoesOn()) {
        endRun();
        return;
    }
    // The mac step writes what mac.csv gives this unit, as a scan would put
    // it into the address field.
    const int row = findSerialNumber(snList, sn);
    const QString mac = row >= 0 ? macList.at(row) : QString();
    const UnitRun run = PlanRunner(*this, *this, &journal())
                            .run(plan, sn, mac, journal().options().bench, &runRecord());
    endRun();
    showVerdict(run, plan.checks());
}

RunRecord &MainWindow::runRecord()
{
    if (!m_runRecord)
        m_runRecord = std::make_unique<RunRecord>(journal());
    return *m_runRecord;
}

// Large and in colour, so the engineer can label the unit at a glance.
void MainWindow::showVerdict(const UnitRun &run, int checks)
{
    QString text = QStringLiteral("<span style=\"font-size:28pt; font-weight:bold\">%1</span>"
                                  "&nbsp;&nbsp;SN %2")
                       .arg(verdictText(run.verdict), run.sn.toHtmlEscaped());
    if (run.verdict == UnitRun::Fail)
        text += QStringLiteral("<br>") + failureSummary(run, checks).toHtmlEscaped();
    else if (run.verdict == UnitRun::Aborted && !run.steps.isEmpty())
        text += QStringLiteral("<br>") + run.steps.last().line.toHtmlEscaped();
    if (!run.recorded)
        text += QStringLiteral("<br>测试记录未写入：") + run.recordError.toHtmlEscaped();
    ui->labelVerdict->setStyleSheet(
        QStringLiteral("QLabel { color: white; background-color: %1; font-size: 13pt; "
                       "padding: 4px; }")
            .arg(verdictColour(run.verdict)));
    ui->labelVerdict->setText(text);
    ui->labelVerdict->show();
}

void MainWindow::clearVerdict()
{
    ui->labelVerdict->hide();
    ui->labelVerdict->clear();
}
