// The commands of feederbench-cli: the port list, reading the device list,
// the switching commands.

#include "cli/commandline.h"

#include "app/buildstamp.h"
#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/seriallink.h"
#include "config/devicelist.h"
#include "config/mactable.h"
#include "config/settings.h"
#include "device/decode.h"
#include "device/journal.h"
#include "device/macprovisioning.h"
#include "device/operations.h"
#include "device/plan.h"
#include "device/planrun.h"
#include "device/runrecord.h"
#include "device/runreport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSerialPortInfo>

#include <memory>

namespace {

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString registerText(quint16 reg)
{
    return QStringLiteral("%1").arg(reg, 4, 16, QLatin1Char('0')).toUpper();
}

QString outcomeKey(ReplyVerdict::Outcome outcome)
{
    switch (outcome) {
    case ReplyVerdict::Answer:
        return QStringLiteral("answer");
    case ReplyVerdict::NoReply:
        return QStringLiteral("no_reply");
    case ReplyVerdict::Exception:
        return QStringLiteral("exception");
    case ReplyVerdict::Invalid:
        return QStringLiteral("invalid");
    case ReplyVerdict::Abandoned:
        break;
    }
    return QStringLiteral("abandoned");
}

// The verdict's part of a result: its outcome, and why it failed.
void addVerdict(QJsonObject *result, const ReplyVerdict &verdict)
{
    result->insert(QStringLiteral("outcome"), outcomeKey(verdict.outcome));
    const QString reason = failureReason(verdict);
    if (!reason.isEmpty())
        result->insert(QStringLiteral("reason"), reason);
    if (verdict.outcome == ReplyVerdict::Exception)
        result->insert(QStringLiteral("exceptionCode"), int(verdict.exceptionCode));
}

double roundedMs(double ms)
{
    return qRound(ms * 100) / 100.0;
}

QJsonObject lineStatsObject(const LineStats &s)
{
    QJsonObject stats{
        {QStringLiteral("requests"), s.requests}, {QStringLiteral("answers"), s.answers},
        {QStringLiteral("noReply"), s.noReply},   {QStringLiteral("exceptions"), s.exceptions},
        {QStringLiteral("invalid"), s.invalid},   {QStringLiteral("echoFaults"), s.echoFaults}};
    if (s.timed > 0) {
        stats.insert(QStringLiteral("responseMs"),
                     QJsonObject{{QStringLiteral("min"), roundedMs(s.minResponseNs / 1e6)},
                                 {QStringLiteral("mean"), roundedMs(s.meanResponseNs() / 1e6)},
                                 {QStringLiteral("max"), roundedMs(s.maxResponseNs / 1e6)}});
    }
    return stats;
}

// The unit's run as the record keeps it.
QJsonObject runObject(const UnitRun &run)
{
    static const char *const verdicts[] = {"pass", "fail", "aborted"};
    static const char *const outcomes[] = {"pass", "fail", "aborted"};
    QJsonArray steps;
    for (const StepResult &step : run.steps) {
        QJsonObject s{{QStringLiteral("number"), step.number},
                      {QStringLiteral("section"), step.section},
                      {QStringLiteral("type"), planStepTypeName(step.type)},
                      {QStringLiteral("name"), step.name},
                      {QStringLiteral("measured"), step.measured},
                      {QStringLiteral("limits"), step.limits},
                      {QStringLiteral("outcome"), QLatin1String(outcomes[step.outcome])},
                      {QStringLiteral("line"), step.line}};
        if (step.module >= 0)
            s.insert(QStringLiteral("module"), step.module);
        if (!step.detail.isEmpty())
            s.insert(QStringLiteral("detail"), step.detail);
        steps.append(s);
    }
    QJsonObject o{{QStringLiteral("sn"), run.sn},
                  {QStringLiteral("mac"), run.mac},
                  {QStringLiteral("bench"), run.bench},
                  {QStringLiteral("port"), run.port},
                  {QStringLiteral("plan"), run.planName},
                  {QStringLiteral("planSha256"), run.planSha256},
                  {QStringLiteral("start"), run.start.toString(Qt::ISODateWithMs)},
                  {QStringLiteral("durationMs"), double(run.durationMs)},
                  {QStringLiteral("verdict"), QLatin1String(verdicts[run.verdict])},
                  {QStringLiteral("recorded"), run.recorded},
                  {QStringLiteral("steps"), steps}};
    if (!run.recorded)
        o.insert(QStringLiteral("recordError"), run.recordError);
    return o;
}

QJsonObject summaryObject(const RunTally &tally, int total, double elapsedMs)
{
    return {{QStringLiteral("total"), total},
            {QStringLiteral("done"), tally.done()},
            {QStringLiteral("answered"), tally.answered},
            {QStringLiteral("noReply"), tally.noReply},
            {QStringLiteral("exceptions"), tally.exceptions},
            {QStringLiteral("invalid"), tally.invalid},
            {QStringLiteral("elapsedMs"), roundedMs(elapsedMs)}};
}

// One command from the options to its exit status.
class CommandRun
{
public:
    explicit CommandRun(const CliOptions &options)
        : m_options(options)
        , m_sink(!options.json)
        , m_link(m_stop)
        , m_ops(m_link, m_sink)
    {
        m_json.insert(QStringLiteral("program"), QStringLiteral("feederbench-cli"));
        m_json.insert(QStringLiteral("version"), QStringLiteral(FEEDERBENCH_VERSION));
        m_json.insert(QStringLiteral("command"), commandName(options.command));
    }

    int run();

private:
    int ports();
    int read();
    int switchModules();
    int readMac();
    int writeMac();
    int reset();
    int test();

    bool loadDeviceList();
    bool openLink();
    // The tool could not do its work: the message, and status 2.
    int fail(const QString &message);
    // How the work ended: lost port or Ctrl+C, else by the unit's answers.
    int finish(const RunTally &tally, int total);
    // A service command's end: a lost port or Ctrl+C before its outcome is
    // the tool's, else status as the command found it.
    int finishService(const QJsonObject &result, int status);
    // The provisioning record the window keeps, by the same [journal] settings.
    Journal &journal();
    int done(int status);

    const CliOptions &m_options;
    ConsoleSink m_sink;
    Interruption m_stop;
    SerialLink m_link;
    DeviceOperations m_ops;
    QJsonObject m_json;
    QJsonArray m_results;
    QElapsedTimer m_clock;
    std::unique_ptr<Journal> m_journal;
};

int CommandRun::run()
{
    // A file named on the line that is not there is a mistake, whatever the command.
    if (m_options.configGiven && !QFileInfo(m_options.configFile).isFile())
        return fail(QStringLiteral("找不到设备列表文件 %1").arg(m_options.configFile));
    switch (m_options.command) {
    case CliCommand::Ports:
        return ports();
    case CliCommand::Read:
        return read();
    case CliCommand::Switch:
        return switchModules();
    case CliCommand::ReadMac:
        return readMac();
    case CliCommand::WriteMac:
        return writeMac();
    case CliCommand::Reset:
        return reset();
    case CliCommand::Test:
        return test();
    case CliCommand::None:
        break;
    }
    return fail(QStringLiteral("没有给出命令"));
}

int CommandRun::fail(const QString &message)
{
    printErr(message);
    m_json.insert(QStringLiteral("error"), message);
    return done(kExitToolFailed);
}

int CommandRun::done(int status)
{
    // The window's status-bar counters, for whoever watches the traffic.
    if (m_options.verbose && m_link.lineStats().requests > 0)
        printErr(m_link.lineStats().label());
    if (m_options.json) {
        static const char *const statusKeys[] = {"passed", "failed", "error"};
        QString key = QLatin1String(statusKeys[status]);
        if (status == kExitToolFailed && !m_json.contains(QStringLiteral("error")))
            key = QStringLiteral("aborted");
        m_json.insert(QStringLiteral("status"), key);
        m_json.insert(QStringLiteral("exitCode"), status);
        if (m_options.command != CliCommand::Ports) {
            // A test's results are its run's steps.
            if (m_options.command != CliCommand::Test)
                m_json.insert(QStringLiteral("results"), m_results);
            m_json.insert(QStringLiteral("lines"), QJsonArray::fromStringList(m_sink.lines()));
            QJsonArray exchanges;
            for (const ExchangeRecord &e : m_link.exchanges()) {
                QJsonObject x{{QStringLiteral("request"), hexText(e.request)},
                              {QStringLiteral("reply"), hexText(e.reply)},
                              {QStringLiteral("elapsedMs"), roundedMs(e.elapsedMs)}};
                if (m_options.echo)
                    x.insert(QStringLiteral("echo"), hexText(e.echo));
                if (e.responseMs >= 0)
                    x.insert(QStringLiteral("responseMs"), roundedMs(e.responseMs));
                addVerdict(&x, e.verdict);
                exchanges.append(x);
            }
            m_json.insert(QStringLiteral("exchanges"), exchanges);
            m_json.insert(QStringLiteral("lineStats"), lineStatsObject(m_link.lineStats()));
        }
        printJson(m_json);
    }
    return status;
}

int CommandRun::ports()
{
    const auto ports = QSerialPortInfo::availablePorts();
    QJsonArray list;
    for (const QSerialPortInfo &info : ports) {
        QJsonObject port{{QStringLiteral("name"), info.portName()},
                         {QStringLiteral("location"), info.systemLocation()},
                         {QStringLiteral("description"), info.description()},
                         {QStringLiteral("manufacturer"), info.manufacturer()},
                         {QStringLiteral("serialNumber"), info.serialNumber()}};
        list.append(port);
        if (!m_options.json) {
            const QString about = portToolTip(info.description(), info.manufacturer());
            printOut(about.isEmpty()
                         ? info.portName()
                         : info.portName() + QLatin1Char('\t')
                               + QString(about).replace(QLatin1Char('\n'), QStringLiteral("，")));
        }
    }
    if (ports.isEmpty() && !m_options.json)
        printErr(QStringLiteral("本机没有找到串口"));
    m_json.insert(QStringLiteral("ports"), list);
    return done(kExitPassed);
}

// config.ini as the window reads it; what the window would show in its
// traffic window about the file goes to standard error.
bool CommandRun::loadDeviceList()
{
    if (!QFileInfo(m_options.configFile).isFile()) {
        fail(QStringLiteral("找不到设备列表文件 %1").arg(m_options.configFile));
        return false;
    }
    const QStringList notes = load_device_list();
    for (const QString &note : notes)
        printErr(note);
    return true;
}

bool CommandRun::openLink()
{
    m_json.insert(QStringLiteral("port"), m_options.port);
    m_link.setReplyTimeoutMs(m_options.timeoutMs);
    m_link.setLineEchoes(m_options.echo);
    if (m_options.verbose)
        m_link.setTrafficLog(printErr);
    QString error;
    if (!m_link.open(m_options.port, m_options.line, &error)) {
        fail(error);
        return false;
    }
    return true;
}

int CommandRun::finish(const RunTally &tally, int total)
{
    m_json.insert(QStringLiteral("summary"),
                  summaryObject(tally, total, m_clock.nsecsElapsed() / 1e6));
    if (!m_link.lostText().isEmpty()) {
        printErr(m_link.lostText());
        m_json.insert(QStringLiteral("abortReason"), m_link.lostText());
        return done(kExitToolFailed);
    }
    if (m_stop.requested() && tally.done() < total) {
        m_json.insert(QStringLiteral("abortReason"), QStringLiteral("Ctrl+C"));
        return done(kExitToolFailed);
    }
    return done(tally.done() == tally.answered ? kExitPassed : kExitUnitFailed);
}

// One item of a read: a group's separator (entry -1 with its header) or an entry.
struct ReadItem
{
    int entry;
    bool separator;
};

int CommandRun::read()
{
    if (!loadDeviceList())
        return kExitToolFailed;
    QVector<ReadItem> items;
    int entries = 0;
    if (m_options.registers.isEmpty()) {
        // What ticking "所有" in the window reads: every group under its separator.
        for (const DeviceGroup &group : deviceGroups()) {
            items.append({group.header, true});
            for (int entry : group.entries)
                items.append({entry, false});
            entries += group.entries.size();
        }
        if (entries == 0)
            return fail(QStringLiteral("设备列表 %1 中没有可读的条目").arg(m_options.configFile));
    } else {
        // Every register is looked up before anything is sent.
        for (quint16 reg : m_options.registers) {
            const int entry = findEntryByRegister(reg);
            if (entry < 0 || entry >= deviceCount)
                return fail(QStringLiteral("寄存器0x%1未在配置中").arg(registerText(reg)));
            if (deviceTable[entry].type >= kGroupHeaderType)
                return fail(QStringLiteral("寄存器0x%1是分组“%2”的标题，不能读取")
                                .arg(registerText(reg), deviceTable[entry].des));
            items.append({entry, false});
            ++entries;
        }
    }
    if (!openLink())
        return kExitToolFailed;

    const int total = entries * m_options.modules.size();
    RunTally tally;
    m_clock.start();
    for (int module : m_options.modules) {
        if (!m_link.goesOn())
            break;
        m_sink.resultLine(readTestBanner(module));
        for (const ReadItem &item : qAsConst(items)) {
            if (!m_link.goesOn())
                break;
            if (item.separator) {
                m_sink.resultLine(QStringLiteral("==========================="));
                continue;
            }
            const DeviceEntry &e = deviceTable[item.entry];
            const Reading r = m_ops.readEntry(item.entry, module);
            tally.add(r.verdict);
            if (r.verdict.outcome == ReplyVerdict::Abandoned)
                break;
            QJsonObject result{
                {QStringLiteral("module"), module},
                {QStringLiteral("register"), registerText(e.base)},
                {QStringLiteral("address"), registerText(moduleRegister(module, e.base))},
                {QStringLiteral("name"), e.des}};
            addVerdict(&result, r.verdict);
            if (r.verdict.ok()) {
                result.insert(QStringLiteral("text"), r.text);
                double value = 0;
                quint16 word = 0;
                if (decodeNumber(e, r.counted(), r.countedLength(), &value))
                    result.insert(QStringLiteral("value"), value);
                else if (e.type == kEntryTypeStatusBits
                         && decodeFirstRegister(r.counted(), r.countedLength(), &word))
                    result.insert(QStringLiteral("value"), int(word));
                if (r.hasClockOffset)
                    result.insert(QStringLiteral("clockOffsetS"), double(r.clockOffsetS));
            }
            m_results.append(result);
        }
    }
    if (!m_link.lostText().isEmpty())
        m_sink.resultLine(QStringLiteral("串口已断开，操作中止"), Tone::Bad);
    else if (m_stop.requested() && tally.done() < total)
        m_sink.resultLine(stoppedLine(tally.done(), total), Tone::Bad);
    m_sink.resultLine(summaryLine(tally, m_clock.elapsed()));
    return finish(tally, total);
}

int CommandRun::switchModules()
{
    if (!openLink())
        return kExitToolFailed;
    const QVector<int> &modules = m_options.modules;
    RunTally tally;
    m_clock.start();
    if (modules.size() == 1) {
        tally.add(m_ops.switchModule(m_options.switchCommand, modules.first()));
    } else {
        m_ops.switchAll(m_options.switchCommand, modules, tally);
    }
    // Each exchange is one module's command.
    for (const ExchangeRecord &e : m_link.exchanges()) {
        if (e.verdict.outcome == ReplyVerdict::Abandoned)
            continue;
        const int module = e.request.size() > 2 ? quint8(e.request.at(2)) >> 4 : 0;
        QJsonObject result{{QStringLiteral("module"), module},
                           {QStringLiteral("command"), switchCommandKey(m_options.switchCommand)}};
        addVerdict(&result, e.verdict);
        m_results.append(result);
    }
    if (!m_link.lostText().isEmpty())
        m_sink.resultLine(QStringLiteral("串口已断开，操作中止"), Tone::Bad);
    else if (m_stop.requested() && tally.done() < modules.size())
        m_sink.resultLine(stoppedLine(tally.done(), modules.size()), Tone::Bad);
    if (modules.size() > 1)
        m_sink.resultLine(summaryLine(tally, m_clock.elapsed()));
    return finish(tally, modules.size());
}

Journal &CommandRun::journal()
{
    if (!m_journal)
        m_journal = std::make_unique<Journal>(JournalOptions::fromConfig());
    return *m_journal;
}

int CommandRun::finishService(const QJsonObject &result, int status)
{
    m_results.append(result);
    if (!m_link.lostText().isEmpty()) {
        printErr(m_link.lostText());
        m_sink.resultLine(QStringLiteral("串口已断开，操作中止"), Tone::Bad);
        m_json.insert(QStringLiteral("abortReason"), m_link.lostText());
        return done(kExitToolFailed);
    }
    if (status != kExitPassed && m_stop.requested()) {
        m_json.insert(QStringLiteral("abortReason"), QStringLiteral("Ctrl+C"));
        return done(kExitToolFailed);
    }
    return done(status);
}

int CommandRun::readMac()
{
    if (!openLink())
        return kExitToolFailed;
    MacProvisioning provisioning(m_link, m_sink, journal());
    const QString mac = provisioning.readMac(m_options.sn);
    // The window shows the address in its field; here it is a line of its own.
    if (!mac.isEmpty())
        m_sink.resultLine(QStringLiteral("读取的MAC地址：%1").arg(mac), Tone::Good);
    QJsonObject result{{QStringLiteral("operation"), QLatin1String(kOpReadMac)},
                       {QStringLiteral("sn"), m_options.sn},
                       {QStringLiteral("mac"), mac},
                       {QStringLiteral("outcome"),
                        mac.isEmpty() ? QStringLiteral("failed") : QStringLiteral("ok")},
                       {QStringLiteral("recorded"), !provisioning.recordUnwritable()}};
    return finishService(result, mac.isEmpty() ? kExitUnitFailed : kExitPassed);
}

int CommandRun::writeMac()
{
    QString address = m_options.mac;
    if (!m_options.sn.isEmpty()) {
        // The unit's address from the line's table, as the window's SN field finds it.
        QFile file(m_options.macTableFile);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("打不开 MAC 地址表 %1：%2")
                            .arg(m_options.macTableFile, file.errorString()));
        const MacTable table = readMacTable(file);
        if (m_options.verbose) {
            for (const QString &line : table.lines)
                printErr(line);
        }
        const int index = findSerialNumber(table.snList, m_options.sn);
        if (index < 0)
            return fail(QStringLiteral("sn=%1 not find!!!（%2 中没有该 SN），未写入")
                            .arg(m_options.sn, m_options.macTableFile));
        address = table.macList.at(index);
    }
    if (!openLink())
        return kExitToolFailed;
    MacProvisioning provisioning(m_link, m_sink, journal());
    const MacWriteOutcome outcome = provisioning.writeMac(address, m_options.sn);
    static const char *const outcomes[] = {"verified", "refused", "failed", "aborted"};
    QJsonObject result{{QStringLiteral("operation"), QLatin1String(kOpWriteMac)},
                       {QStringLiteral("sn"), m_options.sn},
                       {QStringLiteral("mac"), outcome.address},
                       {QStringLiteral("outcome"), QLatin1String(outcomes[outcome.status])}};
    if (!outcome.why.isEmpty())
        result.insert(QStringLiteral("reason"), outcome.why);
    if (!outcome.next.isEmpty())
        result.insert(QStringLiteral("next"), outcome.next);
    int status = kExitUnitFailed;
    switch (outcome.status) {
    case MacWriteOutcome::Verified:
        status = kExitPassed;
        break;
    case MacWriteOutcome::Refused:
        // An address the record refuses is the unit's failure; a record that
        // cannot be written is the tool's.
        if (provisioning.recordUnwritable()) {
            status = kExitToolFailed;
            m_json.insert(QStringLiteral("error"), outcome.why);
        }
        break;
    case MacWriteOutcome::Failed:
        break;
    case MacWriteOutcome::Aborted:
        status = kExitToolFailed;
        break;
    }
    return finishService(result, status);
}

int CommandRun::reset()
{
    if (!openLink())
        return kExitToolFailed;
    MacProvisioning provisioning(m_link, m_sink, journal());
    const bool ok = provisioning.factoryReset(m_options.sn);
    QJsonObject result{
        {QStringLiteral("operation"), QLatin1String(kOpFactoryReset)},
        {QStringLiteral("sn"), m_options.sn},
        {QStringLiteral("outcome"), ok ? QStringLiteral("ok") : QStringLiteral("failed")}};
    int status = ok ? kExitPassed : kExitUnitFailed;
    if (provisioning.recordUnwritable()) {
        status = kExitToolFailed;
        m_json.insert(QStringLiteral("error"), m_sink.lines().last());
    }
    return finishService(result, status);
}

int CommandRun::test()
{
    // The plan names its registers by the device list's entries.
    if (!loadDeviceList())
        return kExitToolFailed;
    TestPlan plan;
    PlanError planError;
    if (!loadPlanFile(m_options.planFile, &plan, &planError))
        return fail(planError.text());
    const QString sn = m_options.sn.trimmed();
    if (sn.isEmpty())
        return fail(QStringLiteral("设备SN为空：请先输入或扫描设备SN，一键测试未运行"));
    // A mac step writes what mac.csv gives this unit, as the window's scan
    // puts it into the address field; without the table it has nothing to write.
    QString mac;
    QFile file(m_options.macTableFile);
    if (file.open(QIODevice::ReadOnly)) {
        const MacTable table = readMacTable(file);
        const int row = findSerialNumber(table.snList, sn);
        if (row >= 0)
            mac = table.macList.at(row);
    } else if (m_options.macTableGiven) {
        return fail(QStringLiteral("打不开 MAC 地址表 %1：%2")
                        .arg(m_options.macTableFile, file.errorString()));
    }
    if (!openLink())
        return kExitToolFailed;

    RunRecord record(journal());
    const UnitRun run = PlanRunner(m_link, m_sink, &journal())
                            .run(plan, sn, mac, journal().options().bench, &record);
    m_json.insert(QStringLiteral("run"), runObject(run));
    if (!m_link.lostText().isEmpty()) {
        printErr(m_link.lostText());
        m_json.insert(QStringLiteral("abortReason"), m_link.lostText());
    } else if (run.verdict == UnitRun::Aborted && m_stop.requested()) {
        m_json.insert(QStringLiteral("abortReason"), QStringLiteral("Ctrl+C"));
    }
    // A verdict that is not on record is no verdict the line can rely on.
    if (!run.recorded) {
        m_json.insert(QStringLiteral("error"),
                      QStringLiteral("测试记录写入失败：%1").arg(run.recordError));
        return done(kExitToolFailed);
    }
    switch (run.verdict) {
    case UnitRun::Pass:
        return done(kExitPassed);
    case UnitRun::Fail:
        return done(kExitUnitFailed);
    case UnitRun::Aborted:
        break;
    }
    return done(kExitToolFailed);
}

QString versionText()
{
    return QStringLiteral("feederbench-cli %1（构建于 %2）")
        .arg(QStringLiteral(FEEDERBENCH_VERSION), buildTimeStamp(__DATE__, __TIME__));
}

} // namespace

int runCommandLine(const QStringList &arguments)
{
    CliOptions options;
    QString error;
    if (!parseArguments(arguments, &options, &error)) {
        printErr(
            QStringLiteral("feederbench-cli：%1\n用 feederbench-cli --help 查看用法。").arg(error));
        if (options.json) {
            printJson({{QStringLiteral("program"), QStringLiteral("feederbench-cli")},
                       {QStringLiteral("version"), QStringLiteral(FEEDERBENCH_VERSION)},
                       {QStringLiteral("command"), commandName(options.command)},
                       {QStringLiteral("status"), QStringLiteral("error")},
                       {QStringLiteral("exitCode"), int(kExitToolFailed)},
                       {QStringLiteral("error"), error}});
        }
        return kExitToolFailed;
    }
    if (options.help) {
        printOut(helpText());
        return kExitPassed;
    }
    if (options.version) {
        printOut(versionText());
        return kExitPassed;
    }
    setAsideStandardOutput(options.verbose);
    // The device list and the record's settings come from the file the
    // engineer named, as the window reads them from its folder.
    set_config_file(options.configFile);
    CommandRun run(options);
    return run.run();
}
