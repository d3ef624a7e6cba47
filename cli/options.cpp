// The arguments of feederbench-cli, read and checked.

#include "cli/options.h"

#include <QHash>
#include <QRegularExpression>

namespace {

constexpr int kMaxTimeoutMs = 60000; // a unit that has not answered in a minute never will

struct OptionSpec
{
    const char *name;
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {"port", true},      {"baud", true},    {"parity", true},   {"data-bits", true},
    {"stop-bits", true}, {"timeout", true}, {"echo", false},    {"config", true},
    {"module", true},    {"sn", true},      {"mac", true},      {"mac-table", true},
    {"plan", true},      {"json", false},   {"verbose", false}, {"help", false},
    {"version", false},
};

// The options every command that opens the port takes.
const char *const kLineOptions[]
    = {"port", "baud", "parity", "data-bits", "stop-bits", "timeout", "echo", "config"};

const OptionSpec *findOption(const QString &name)
{
    for (const OptionSpec &spec : kOptions) {
        if (name == QLatin1String(spec.name))
            return &spec;
    }
    return nullptr;
}

struct CommandSpec
{
    const char *name;
    CliCommand command;
};

// In the order --help lists them.
const CommandSpec kCommands[] = {
    {"ports", CliCommand::Ports},        {"read", CliCommand::Read},
    {"switch", CliCommand::Switch},      {"read-mac", CliCommand::ReadMac},
    {"write-mac", CliCommand::WriteMac}, {"reset", CliCommand::Reset},
    {"test", CliCommand::Test},
};

QString commandList()
{
    QStringList names;
    for (const CommandSpec &c : kCommands)
        names << QLatin1String(c.name);
    return names.join(QStringLiteral("、"));
}

struct SwitchName
{
    const char *key;
    SwitchCommand command;
};

// In the order of SwitchCommand.
const SwitchName kSwitchNames[] = {
    {"close", SwitchCommand::Close},           {"open", SwitchCommand::Open},
    {"remote-on", SwitchCommand::RemoteOn},    {"remote-off", SwitchCommand::RemoteOff},
    {"lvd-on", SwitchCommand::DisconnectOn},   {"lvd-off", SwitchCommand::DisconnectOff},
    {"time-on", SwitchCommand::TimeControlOn}, {"time-off", SwitchCommand::TimeControlOff},
};

// "close" or the button's own word ("合闸"); "remote_on" is taken as "remote-on".
bool parseSwitchCommand(const QString &text, SwitchCommand *command)
{
    QString key = text.trimmed().toLower();
    key.replace(QLatin1Char('_'), QLatin1Char('-'));
    for (const SwitchName &name : kSwitchNames) {
        if (key == QLatin1String(name.key) || text.trimmed() == switchCommandName(name.command)) {
            *command = name.command;
            return true;
        }
    }
    return false;
}

bool parseInteger(const QString &text, qint64 min, qint64 max, qint64 *value)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

// "1", "1,2,10" or "all"; only the unit's own module numbers.
bool parseModules(const QString &text, QVector<int> *modules, QString *error)
{
    if (text.trimmed().compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        *modules = allModules();
        return true;
    }
    modules->clear();
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString &part : parts) {
        qint64 m = -1;
        if (!parseInteger(part, 0, 15, &m) || !allModules().contains(int(m))) {
            *error = QStringLiteral("--module：“%1”不是模块号（0～5、10，或 all）").arg(part);
            return false;
        }
        if (!modules->contains(int(m)))
            modules->append(int(m));
    }
    return true;
}

// "0704", "0x080F", "704": a base register in hexadecimal.
bool parseRegister(const QString &text, quint16 *reg)
{
    static const QRegularExpression form(QStringLiteral("^(0[xX])?[0-9A-Fa-f]{1,4}$"));
    const QString t = text.trimmed();
    if (!form.match(t).hasMatch())
        return false;
    *reg = quint16(
        t.mid(t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? 2 : 0).toUInt(nullptr, 16));
    return true;
}

class Reader
{
public:
    Reader(CliOptions *options, QString *error)
        : o(options)
        , m_error(error)
    {}

    bool read(const QStringList &arguments);

private:
    bool fail(const QString &message)
    {
        *m_error = message;
        return false;
    }
    bool split(const QStringList &arguments);
    bool commandFromPositionals();
    bool optionsFitCommand();
    bool lineSettings();
    bool serviceCommand();
    bool has(const char *name) const { return m_values.contains(QLatin1String(name)); }
    QString value(const char *name) const { return m_values.value(QLatin1String(name)); }

    CliOptions *o;
    QString *m_error;
    QHash<QString, QString> m_values; // option name -> its (last) value
    QStringList m_positionals;
};

bool Reader::split(const QStringList &arguments)
{
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            m_positionals << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (a == QLatin1String("-h")) {
            m_values.insert(QStringLiteral("help"), QString());
            continue;
        }
        if (!a.startsWith(QLatin1String("--")))
            return fail(QStringLiteral("未知选项 %1").arg(a));
        QString name = a.mid(2);
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        const bool inline_ = equals >= 0;
        if (inline_) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        const OptionSpec *spec = findOption(name);
        if (!spec)
            return fail(QStringLiteral("未知选项 --%1").arg(name));
        if (spec->takesValue && !inline_) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("选项 --%1 缺少值").arg(name));
            value = arguments.at(++i);
        } else if (!spec->takesValue && inline_) {
            return fail(QStringLiteral("选项 --%1 不带值").arg(name));
        }
        if (name == QLatin1String("json"))
            o->json = true;
        m_values.insert(name, value);
    }
    return true;
}

bool Reader::commandFromPositionals()
{
    if (m_positionals.isEmpty())
        return fail(QStringLiteral("没有给出命令（%1）").arg(commandList()));
    const QString name = m_positionals.takeFirst();
    for (const CommandSpec &c : kCommands) {
        if (name == QLatin1String(c.name))
            o->command = c.command;
    }
    if (o->command == CliCommand::None)
        return fail(QStringLiteral("未知命令“%1”（可用：%2）").arg(name, commandList()));
    return true;
}

// An option the command has no use for is refused: a station script with a
// mistyped line must not pass for one that did what it says.
bool Reader::optionsFitCommand()
{
    QStringList allowed = {QStringLiteral("json"), QStringLiteral("verbose"),
                           QStringLiteral("help"), QStringLiteral("version")};
    if (o->command != CliCommand::Ports) {
        for (const char *name : kLineOptions)
            allowed << QLatin1String(name);
    }
    switch (o->command) {
    case CliCommand::Read:
    case CliCommand::Switch:
        allowed << QStringLiteral("module");
        break;
    case CliCommand::WriteMac:
        allowed << QStringLiteral("mac") << QStringLiteral("mac-table");
        Q_FALLTHROUGH();
    case CliCommand::ReadMac:
    case CliCommand::Reset:
        allowed << QStringLiteral("sn");
        break;
    case CliCommand::Test:
        allowed << QStringLiteral("sn") << QStringLiteral("plan") << QStringLiteral("mac-table");
        break;
    case CliCommand::Ports:
    case CliCommand::None:
        break;
    }
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        if (!allowed.contains(it.key()))
            return fail(QStringLiteral("选项 --%1 不能用于 %2 命令")
                            .arg(it.key(), commandName(o->command)));
    }
    return true;
}

bool Reader::lineSettings()
{
    o->port = value("port");
    if (has("port") && o->port.trimmed().isEmpty())
        return fail(QStringLiteral("--port 的值为空"));
    if (!has("port"))
        return fail(
            QStringLiteral("缺少 --port：请指定串口（feederbench-cli ports 列出本机串口）"));

    qint64 n = 0;
    if (has("baud")) {
        if (!parseInteger(value("baud"), 1, 100000000, &n))
            return fail(QStringLiteral("--baud：“%1”不是波特率").arg(value("baud")));
        o->line.baudRate = qint32(n);
    }
    if (has("data-bits")) {
        const QString bits = value("data-bits").trimmed();
        if (bits == QLatin1String("7"))
            o->line.dataBits = QSerialPort::Data7;
        else if (bits == QLatin1String("8"))
            o->line.dataBits = QSerialPort::Data8;
        else
            return fail(QStringLiteral("--data-bits：“%1”无效，串口只支持7位或8位").arg(bits));
    }
    if (has("parity")) {
        const QString parity = value("parity").trimmed().toLower();
        if (parity == QLatin1String("none") || parity == QStringLiteral("无校验"))
            o->line.parity = QSerialPort::NoParity;
        else if (parity == QLatin1String("odd") || parity == QStringLiteral("奇校验"))
            o->line.parity = QSerialPort::OddParity;
        else if (parity == QLatin1String("even") || parity == QStringLiteral("偶校验"))
            o->line.parity = QSerialPort::EvenParity;
        else
            return fail(
                QStringLiteral("--parity：“%1”无效（none、odd 或 even）").arg(value("parity")));
    }
    if (has("stop-bits")) {
        const QString stop = value("stop-bits").trimmed();
        if (stop == QLatin1String("1"))
            o->line.stopBits = QSerialPort::OneStop;
        else if (stop == QLatin1String("1.5"))
            o->line.stopBits = QSerialPort::OneAndHalfStop;
        else if (stop == QLatin1String("2"))
            o->line.stopBits = QSerialPort::TwoStop;
        else
            return fail(QStringLiteral("--stop-bits：“%1”无效（1、1.5 或 2）").arg(stop));
    }
    o->echo = has("echo");
    if (has("timeout")) {
        if (!parseInteger(value("timeout"), 1, kMaxTimeoutMs, &n))
            return fail(QStringLiteral("--timeout：“%1”不是 1～%2 之间的毫秒数")
                            .arg(value("timeout"))
                            .arg(kMaxTimeoutMs));
        o->timeoutMs = int(n);
    }
    if (has("config")) {
        o->configFile = value("config");
        o->configGiven = true;
        if (o->configFile.trimmed().isEmpty())
            return fail(QStringLiteral("--config 的值为空"));
    }
    return true;
}

// read-mac, write-mac, reset, test: the unit's serial number for the
// record, for a write the address or where to look it up, for a test the plan.
bool Reader::serviceCommand()
{
    if (!m_positionals.isEmpty())
        return fail(QStringLiteral("%1 命令不带参数：“%2”")
                        .arg(commandName(o->command), m_positionals.first()));
    if (has("sn")) {
        o->sn = value("sn");
        // A stray blank is part of what the scanner typed, as in the window;
        // an empty serial number is none.
        if (o->sn.isEmpty())
            return fail(QStringLiteral("--sn 的值为空"));
    }
    if (has("mac-table")) {
        o->macTableFile = value("mac-table");
        o->macTableGiven = true;
        if (o->macTableFile.trimmed().isEmpty())
            return fail(QStringLiteral("--mac-table 的值为空"));
    }
    if (o->command == CliCommand::Test) {
        // A unit's run is on record under its serial number: one must be given.
        if (!has("sn"))
            return fail(QStringLiteral("test 命令需要 --sn（设备序列号）"));
        if (has("plan")) {
            o->planFile = value("plan");
            if (o->planFile.trimmed().isEmpty())
                return fail(QStringLiteral("--plan 的值为空"));
        }
        return true;
    }
    if (o->command != CliCommand::WriteMac)
        return true;
    if (has("sn") == has("mac"))
        return fail(QStringLiteral("write-mac 需要 --sn 或 --mac 中的一个：--sn 在 mac.csv 中查出"
                                   "该设备的地址，--mac 直接给出地址"));
    if (has("mac-table") && !has("sn"))
        return fail(QStringLiteral("--mac-table 只和 --sn 一起用"));
    o->mac = value("mac");
    return true;
}

bool Reader::read(const QStringList &arguments)
{
    if (!split(arguments))
        return false;
    o->verbose = has("verbose");
    // Asked for help or the version, the rest of the line does not matter.
    o->help = has("help");
    o->version = has("version");
    if (o->help || o->version)
        return true;
    if (!commandFromPositionals() || !optionsFitCommand())
        return false;
    if (o->command == CliCommand::Ports) {
        if (!m_positionals.isEmpty())
            return fail(QStringLiteral("ports 命令不带参数：“%1”").arg(m_positionals.first()));
        return true;
    }
    if (!lineSettings())
        return false;
    if (o->command == CliCommand::ReadMac || o->command == CliCommand::WriteMac
        || o->command == CliCommand::Reset || o->command == CliCommand::Test)
        return serviceCommand();
    if (has("module")) {
        o->modulesGiven = true;
        if (!parseModules(value("module"), &o->modules, m_error))
            return false;
    }

    if (o->command == CliCommand::Switch) {
        if (m_positionals.isEmpty())
            return fail(QStringLiteral("switch 命令缺少要执行的命令（close、open、remote-on、"
                                       "remote-off、lvd-on、lvd-off、time-on、time-off）"));
        if (!parseSwitchCommand(m_positionals.first(), &o->switchCommand))
            return fail(QStringLiteral("未知的开关命令“%1”（close、open、remote-on、remote-off、"
                                       "lvd-on、lvd-off、time-on、time-off）")
                            .arg(m_positionals.first()));
        if (m_positionals.size() > 1)
            return fail(
                QStringLiteral("switch 命令只执行一个命令：“%1”多余").arg(m_positionals.at(1)));
        // A breaker is switched only where the engineer said.
        if (!o->modulesGiven)
            return fail(QStringLiteral("switch 命令需要 --module（模块号或 all）"));
        return true;
    }

    // read
    if (!o->modulesGiven)
        o->modules = {0}; // the window's module box starts there
    for (const QString &text : qAsConst(m_positionals)) {
        quint16 reg = 0;
        if (!parseRegister(text, &reg))
            return fail(QStringLiteral("“%1”不是寄存器地址（十六进制，如 0704）").arg(text));
        o->registers << reg;
    }
    return true;
}

} // namespace

bool parseArguments(const QStringList &arguments, CliOptions *options, QString *error)
{
    Reader reader(options, error);
    return reader.read(arguments);
}

QString commandName(CliCommand command)
{
    for (const CommandSpec &c : kCommands) {
        if (c.command == command)
            return QLatin1String(c.name);
    }
    return QString();
}

QString switchCommandKey(SwitchCommand command)
{
    return QLatin1String(kSwitchNames[int(command)].key);
}

QString helpText()
{
    return QStringLiteral(
        "用法：feederbench-cli 命令 [选项] [参数…]\n"
        "\n"
        "FeederBench 的命令行版，供产线的工位脚本调用。它与窗口版使用同一份 config.ini，\n"
        "读取、解码和开关命令与窗口完全相同，结果文字也相同。\n"
        "\n"
        "命令：\n"
        "  ports\n"
        "      列出本机的串口及其描述和制造商。\n"
        "  read [--module M|all] [REG…]\n"
        "      读取 config.ini 设备列表中的条目并按窗口的方式解码：不给 REG 时读取全部条目\n"
        "      （同窗口中勾选“所有”），给出时只读这些基址寄存器的条目（十六进制，如 0704 080F）。\n"
        "  switch COMMAND --module M|all\n"
        "      执行开关按钮的命令。COMMAND：close（合闸）、open（分闸）、remote-on（远控使能）、\n"
        "      remote-off（远控关闭）、lvd-on（脱离使能）、lvd-off（脱离关闭）、\n"
        "      time-on（时段控使能）、time-off（时段控关闭）。\n"
        "  read-mac [--sn SN]\n"
        "      读取设备的 MAC 地址。\n"
        "  write-mac (--sn SN | --mac 地址)\n"
        "      写入 MAC 地址并读回校验：--sn 在 mac.csv 中查出该设备的地址，--mac 直接给出地址。\n"
        "      与窗口相同的规则：地址须在本线的地址段内且为单播地址；生产记录先为该 SN 占用地址，\n"
        "      已给过其他设备的地址、或已有另一地址的设备都被拒绝，不发送。\n"
        "  reset [--sn SN]\n"
        "      恢复出厂默认。\n"
        "  以上三个命令都先写入生产记录（与窗口共用同一记录，见 config.ini 的 [journal]），\n"
        "  记录无法写入时不发送写入和恢复出厂的报文。\n"
        "  test --sn SN [--plan 文件]\n"
        "      按测试计划（默认为当前目录的 plan.ini）测试这台设备，同窗口的“一键测试”：\n"
        "      每项一行结果，最后给出“合格”“不合格”或“中止”，测试记录写入生产记录。\n"
        "      计划中的 mac 步骤写入 mac.csv 中该 SN 的地址。\n"
        "\n"
        "选项：\n"
        "  --port 串口          串口名，如 COM3、ttyUSB0 或 /dev/ttyUSB0（ports 以外的命令必需）\n"
        "  --baud 波特率        默认 9600\n"
        "  --parity 校验        none（无校验，默认）、odd（奇校验）或 even（偶校验）\n"
        "  --data-bits 位数     7 或 8（默认 8）\n"
        "  --stop-bits 位数     1（默认）、1.5 或 2\n"
        "  --timeout 毫秒       每个请求等待应答的最长时间（默认 1000）\n"
        "  --echo               串口适配器会回显发送的数据（两线 RS-485）：去除回显，\n"
        "                       同窗口的“去除回显”\n"
        "  --module M|all       模块号 0～5 或 10，多个用逗号分开；all 为全部七个模块\n"
        "                       （read 默认为模块 0）\n"
        "  --config 文件        设备列表和生产记录的设置（默认为当前目录的 config.ini）\n"
        "  --sn SN              设备序列号，记入生产记录\n"
        "  --mac 地址           write-mac 要写入的地址，如 00:39:28:90:00:05\n"
        "  --mac-table 文件     序列号与 MAC 地址对照表（默认为当前目录的 mac.csv）\n"
        "  --plan 文件          测试计划（默认为当前目录的 plan.ini）\n"
        "  --json               标准输出上只输出一个 JSON 文档（英文键名，见 README）\n"
        "  --verbose            在标准错误上输出每个请求和应答（十六进制，带毫秒时间）\n"
        "  -h, --help           显示本帮助\n"
        "  --version            显示版本\n"
        "\n"
        "退出状态：\n"
        "  0  完成，全部通过\n"
        "  1  设备未通过：没有应答、异常应答、应答校验错误、回显不符，MAC 地址被拒绝或读回\n"
        "     不符，测试不合格\n"
        "  2  工具无法完成：用法错误、文件（含测试计划）或串口出错、串口断开、\n"
        "     生产记录无法写入，或被 Ctrl+C 中止（测试记为“中止”）\n"
        "\n"
        "Ctrl+C（Windows 上也可按 Ctrl+Break）在当前这一次请求和应答结束后停止，\n"
        "再按一次立即退出。\n");
}
