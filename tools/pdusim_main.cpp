// pdu-sim: the simulated distribution unit on a pseudo-terminal, for benches without the real one.

#include "tools/pduunit.h"
#include "tools/simline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct SimOptions
{
    quint8 address = 85;
    int baud = 9600;
    int turnaroundMs = 5;
    QString linkPath;
    bool quiet = false;
    LineFaults faults;
    // Unit faults and presets, applied to the model before it serves.
    QSet<int> silentModules;
    QMap<int, quint8> exceptions;
    bool corruptCrc = false;
    QMap<int, quint16> switchStates;
    QMap<int, quint16> flags;
    QByteArray mac;
    int serviceCode = -1;
    bool forgetMac = false;
    bool ignoreSwitch = false;
    qint64 clockFastS = 0;
    QMap<int, QMap<quint16, quint16>> pinned; // module -> register -> value
};

// Reads the options into SimOptions; the first bad one leaves its message in
// error and the rest are not looked at.
class OptionReader
{
public:
    explicit OptionReader(const QCommandLineParser &parser)
        : m_parser(parser)
    {}

    SimOptions read();
    QString error;

private:
    bool isSet(const char *option) const { return error.isEmpty() && m_parser.isSet(option); }
    QString value(const char *option) const { return m_parser.value(option); }
    QStringList values(const char *option) const
    {
        return error.isEmpty() ? m_parser.values(option) : QStringList();
    }
    void fail(const QString &message)
    {
        if (error.isEmpty())
            error = message;
    }

    qint64 number(const QString &option, const QString &text, qint64 min, qint64 max);
    int module(const QString &option, const QString &text);
    QPair<int, qint64> moduleValue(const QString &option, const QString &text, qint64 max,
                                   const char *form = "MODULE:VALUE");
    QByteArray hexBytes(const QString &option, const QString &text);
    QByteArray mac(const QString &text);
    void pinRegister(const QString &text, SimOptions &o);

    const QCommandLineParser &m_parser;
};

// "123" or "0x7B"; a leading zero does not make it octal, unlike strtol.
bool parseNumber(const QString &text, qint64 min, qint64 max, qint64 *value)
{
    const QString t = text.trimmed();
    bool ok = false;
    qint64 v = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toLongLong(&ok, 16);
    else
        v = t.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

qint64 OptionReader::number(const QString &option, const QString &text, qint64 min, qint64 max)
{
    qint64 v = min;
    if (!parseNumber(text, min, max, &v))
        fail(QString("--%1: '%2' is not a number from %3 to %4")
                 .arg(option, text)
                 .arg(min)
                 .arg(max));
    return v;
}

int OptionReader::module(const QString &option, const QString &text)
{
    qint64 m = -1;
    if (!parseNumber(text, 0, 15, &m) || !PduUnit::moduleExists(int(m))) {
        fail(QString("--%1: '%2' is not a module of the unit (0 to 5 and 10)").arg(option, text));
        return 0;
    }
    return int(m);
}

// MODULE:VALUE, VALUE from 0 to max.
QPair<int, qint64> OptionReader::moduleValue(const QString &option, const QString &text, qint64 max,
                                             const char *form)
{
    const int colon = text.indexOf(':');
    if (colon < 0) {
        fail(QString("--%1: '%2' is not %3").arg(option, text, QLatin1String(form)));
        return {0, 0};
    }
    return {module(option, text.left(colon)), number(option, text.mid(colon + 1), 0, max)};
}

// Hexadecimal bytes, with or without blanks, colons or dashes between them.
QByteArray OptionReader::hexBytes(const QString &option, const QString &text)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:-]")));
    if (digits.isEmpty() || digits.size() % 2 != 0
        || digits.contains(QRegularExpression(QStringLiteral("[^0-9A-Fa-f]")))) {
        fail(QString("--%1: '%2' is not a sequence of hexadecimal bytes").arg(option, text));
        return {};
    }
    return QByteArray::fromHex(digits.toLatin1());
}

QByteArray OptionReader::mac(const QString &text)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[:-]")));
    bool ok = parts.size() == 6;
    for (const QString &part : parts) {
        ok = ok && part.size() == 2
             && !part.contains(QRegularExpression(QStringLiteral("[^0-9A-Fa-f]")));
    }
    if (!ok) {
        fail(QString("--mac: '%1' is not six bytes like 00:1A:2B:3C:4D:5E").arg(text));
        return {};
    }
    return QByteArray::fromHex(parts.join(QString()).toLatin1());
}

// [MODULE:]REG=VALUE: REG hexadecimal as config.ini writes it (0805), on
// MODULE or on every module.
void OptionReader::pinRegister(const QString &text, SimOptions &o)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:([^:=]+):)?([0-9A-Fa-f]{1,4})=([^=]+)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        fail(QString("--set: '%1' is not [MODULE:]REG=VALUE (e.g. 0805=450 or 1:0805=450)")
                 .arg(text));
        return;
    }
    const quint16 reg = quint16(m.captured(2).toUInt(nullptr, 16));
    if (!PduUnit::isReadable(reg)) {
        fail(QString("--set: the unit has no readable register %1").arg(m.captured(2)));
        return;
    }
    const quint16 value = quint16(number("set", m.captured(3), 0, 0xFFFF));
    QList<int> modules{0, 1, 2, 3, 4, 5, 10};
    if (!m.captured(1).isEmpty())
        modules = {module("set", m.captured(1))};
    for (int module : modules)
        o.pinned[module].insert(reg, value);
}

SimOptions OptionReader::read()
{
    SimOptions o;
    if (!m_parser.positionalArguments().isEmpty())
        fail(QString("unexpected argument '%1'").arg(m_parser.positionalArguments().first()));
    if (isSet("address"))
        o.address = quint8(number("address", value("address"), 1, 247));
    if (isSet("no-timing")) {
        if (m_parser.isSet("baud") || m_parser.isSet("turnaround"))
            fail("--no-timing cannot be combined with --baud or --turnaround");
        o.baud = 0;
        o.turnaroundMs = 0;
    }
    if (isSet("baud"))
        o.baud = int(number("baud", value("baud"), 50, 4000000));
    if (isSet("turnaround"))
        o.turnaroundMs = int(number("turnaround", value("turnaround"), 0, 60000));
    o.linkPath = value("link");
    o.quiet = m_parser.isSet("quiet");

    for (const QString &list : values("silent")) {
        // Empty pieces dropped by hand: the flag for it needs Qt 5.14, the tool asks for 5.9.
        QStringList modules = list.split(QLatin1Char(','));
        modules.removeAll(QString());
        if (modules.isEmpty())
            fail("--silent: no module given");
        for (const QString &m : modules)
            o.silentModules.insert(module("silent", m));
    }
    for (const QString &text : values("exception")) {
        const auto mv = moduleValue("exception", text, 255, "MODULE:CODE");
        if (error.isEmpty() && mv.second == 0)
            fail(QString("--exception: '%1': there is no exception code 0").arg(text));
        o.exceptions.insert(mv.first, quint8(mv.second));
    }
    o.corruptCrc = m_parser.isSet("corrupt-crc");
    for (const QString &text : values("switch-state")) {
        const auto mv = moduleValue("switch-state", text, 0xFFFF);
        o.switchStates.insert(mv.first, quint16(mv.second));
    }
    for (const QString &text : values("flags")) {
        const auto mv = moduleValue("flags", text, 0xFFFF);
        o.flags.insert(mv.first, quint16(mv.second));
    }
    if (isSet("mac"))
        o.mac = mac(value("mac"));
    if (isSet("service-code")) {
        const QByteArray code = hexBytes("service-code", value("service-code"));
        if (error.isEmpty() && code.size() != 1)
            fail(QString("--service-code: '%1' is not one hexadecimal byte")
                     .arg(value("service-code")));
        o.serviceCode = code.isEmpty() ? -1 : quint8(code.at(0));
    }

    o.forgetMac = m_parser.isSet("forget-mac");
    o.ignoreSwitch = m_parser.isSet("ignore-switch");
    if (isSet("clock-fast"))
        o.clockFastS = number("clock-fast", value("clock-fast"), 0, 366LL * 86400);
    for (const QString &text : values("set"))
        pinRegister(text, o);

    if (isSet("pieces"))
        o.faults.pieces = int(number("pieces", value("pieces"), 1, 256));
    if (isSet("piece-gap")) {
        if (!m_parser.isSet("pieces"))
            fail("--piece-gap needs --pieces");
        o.faults.pieceGapMs = int(number("piece-gap", value("piece-gap"), 0, 60000));
    }
    if (isSet("garbage"))
        o.faults.garbageBefore = hexBytes("garbage", value("garbage"));
    if (isSet("chatter"))
        o.faults.chatterEveryMs = int(number("chatter", value("chatter"), 1, 3600000));
    if (isSet("hang-up-after")) {
        o.faults.hangUpAfterRequests
            = int(number("hang-up-after", value("hang-up-after"), 1, 1000000000));
    }
    if (isSet("long-replies"))
        o.faults.replyExtraBytes = int(number("long-replies", value("long-replies"), 0, 65536));
    o.faults.corruptEcho = m_parser.isSet("echo-corrupt");
    o.faults.echo = m_parser.isSet("echo") || o.faults.corruptEcho;
    return o;
}

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        "A simulated DC power distribution unit on a pseudo-terminal.\n"
        "\n"
        "It answers Modbus-RTU (functions 03, 06, 10h) at one bus address for the modules\n"
        "0 to 5 and 10, and the \"~\" service packets 0x97, 0x98 and 0x99. On start it prints\n"
        "the pseudo-terminal's path (e.g. /dev/pts/5) as one line on standard output: open\n"
        "that port in the tool. Requests and replies are logged on standard error as\n"
        "\"[yyyy-MM-dd hh:mm:ss.zzz] <- 55 03 ...\" and \"... -> ...\". Stop it with Ctrl+C\n"
        "(SIGINT) or SIGTERM. Numbers may be decimal or 0x hexadecimal.");
    parser.addHelpOption();
    parser.addOptions({
        {"address", "Bus address the unit answers at (1 to 247; default 85 = 0x55).", "N"},
        {"baud",
         "Baud rate the replies are paced at, 10 bits a byte (default 9600). The pseudo-terminal "
         "itself ignores the tool's line settings.",
         "N"},
        {"turnaround", "Time from the end of a request to the start of the reply (default 5).",
         "MS"},
        {"no-timing", "Reply at once, whole: no turnaround and no pacing."},
        {"link",
         "Also make a symbolic link PATH to the pseudo-terminal (an old link there is replaced; "
         "the link is removed on exit).",
         "PATH"},
        {"quiet", "No request/reply log on standard error."},
        {"silent", "These modules never answer, like empty slots (comma-separated, e.g. 1,10).",
         "LIST"},
        {"exception",
         "Module MODULE answers every Modbus request with exception CODE (e.g. 1:2). May be given "
         "more than once.",
         "MODULE:CODE"},
        {"corrupt-crc", "Every Modbus reply goes out with a wrong CRC."},
        {"pieces", "Split every reply into N pieces ...", "N"},
        {"piece-gap",
         "... with MS of silence between them (the tool treats 40 ms of silence as the end of a "
         "reply).",
         "MS"},
        {"garbage", "Send these bytes before every reply (e.g. \"FF 00 13\").", "HEX"},
        {"chatter",
         "Another station talks every MS milliseconds (a read request for station 1: 01 03 00 00 "
         "00 01 84 0A), whatever the tool does.",
         "MS"},
        {"hang-up-after",
         "Close the line after N requests (after answering the last); the tool's port sees the "
         "hang-up and pdu-sim exits.",
         "N"},
        {"switch-state",
         "Preset a module's switch state 0x0704: 0 closed, 1 to 5 the opening causes (e.g. 1:1). "
         "May be given more than once.",
         "MODULE:VALUE"},
        {"flags",
         "Preset a module's protection flags 0x070F (e.g. 2:0x0003). May be given more than once.",
         "MODULE:VALUE"},
        {"mac", "The unit's MAC address at start.", "XX:XX:XX:XX:XX:XX"},
        {"service-code",
         "Return code in the fourth byte of every service reply (e.g. 04; normal 00).", "HEX"},
        {"forget-mac",
         "Acknowledge every MAC write (0x99) without storing the address: a read-back then "
         "finds the old one."},
        {"long-replies",
         "Pad every reply with N extra bytes (to exceed the tool's 256-byte receive buffer).", "N"},
        {"set",
         "Register REG (hexadecimal, e.g. 0805) of MODULE, or of every module, holds VALUE: reads "
         "give it and writes are acknowledged without changing it (e.g. 0805=450 or 1:0805=450). "
         "May be given more than once.",
         "[MODULE:]REG=VALUE"},
        {"ignore-switch",
         "Acknowledge the breaker commands and enables (registers 0801 to 0804 and 0807) without "
         "carrying them out: the breaker and the enables stay as they were."},
        {"clock-fast",
         "Every module's clock reads SECONDS ahead of the time it was set to (and of the host's "
         "time before it is set).",
         "SECONDS"},
        {"echo",
         "Hand every byte the tool sends straight back before the reply, as a two-wire RS-485 "
         "adapter without echo suppression does (the tool's 去除回显 takes it off)."},
        {"echo-corrupt",
         "As --echo, but the last byte of every piece echoed comes back inverted (a line fault "
         "the tool reports as 回显不符)."},
    });
}

void applyToUnit(const SimOptions &o, PduUnit &unit)
{
    unit.setBusAddress(o.address);
    unit.silentModules = o.silentModules;
    unit.forcedException = o.exceptions;
    unit.corruptCrc = o.corruptCrc;
    for (auto it = o.switchStates.cbegin(); it != o.switchStates.cend(); ++it)
        unit.module(it.key()).switchState = it.value();
    for (auto it = o.flags.cbegin(); it != o.flags.cend(); ++it)
        unit.module(it.key()).protectionFlags = it.value();
    if (!o.mac.isEmpty())
        unit.setMac(o.mac);
    if (o.serviceCode >= 0)
        unit.serviceReturnCode = quint8(o.serviceCode);
    unit.forgetMacWrites = o.forgetMac;
    unit.ignoreSwitching = o.ignoreSwitch;
    unit.clockAheadS = o.clockFastS;
    unit.pinnedRegisters = o.pinned;
}

void logLine(const QString &text)
{
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz");
    std::fprintf(stderr, "[%s] %s\n", qPrintable(stamp), qPrintable(text));
    std::fflush(stderr);
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Signals arrive at any moment; the handler only wakes the event loop, which
// then quits in the ordinary way so the link is removed.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    Q_UNUSED(written);
}

bool catchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pdu-sim");

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "pdu-sim: %s\nTry 'pdu-sim --help'.\n",
                     qPrintable(parser.errorText()));
        return kExitUsage;
    }
    if (parser.isSet("help"))
        parser.showHelp(0);
    OptionReader reader(parser);
    const SimOptions options = reader.read();
    if (!reader.error.isEmpty()) {
        std::fprintf(stderr, "pdu-sim: %s\nTry 'pdu-sim --help'.\n", qPrintable(reader.error));
        return kExitUsage;
    }

    PduUnit unit;
    applyToUnit(options, unit);
    const bool log = !options.quiet;
    SimLine line(
        [&unit, log](const QByteArray &request) {
            const QByteArray reply = unit.handleFrame(request);
            if (reply.isEmpty() && log)
                logLine("-> (no reply)");
            return reply;
        },
        &PduUnit::requestLength);
    if (!line.isOpen()) {
        std::fprintf(stderr, "pdu-sim: cannot open a pseudo-terminal\n");
        return kExitFailure;
    }
    line.setBaudRate(options.baud);
    line.setTurnaroundMs(options.turnaroundMs);
    line.faults = options.faults;
    if (!options.linkPath.isEmpty() && !line.makeLink(options.linkPath)) {
        std::fprintf(stderr,
                     "pdu-sim: cannot make the link %s (a file that is not a link is "
                     "never replaced)\n",
                     qPrintable(options.linkPath));
        return kExitFailure;
    }
    if (!catchStopSignals()) {
        std::fprintf(stderr, "pdu-sim: cannot catch SIGINT/SIGTERM\n");
        return kExitFailure;
    }
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        Q_UNUSED(got);
        if (log)
            logLine("stopped");
        app.quit();
    });

    if (log) {
        QObject::connect(&line, &SimLine::requestSeen,
                         [](const QByteArray &request) { logLine("<- " + hexText(request)); });
        QObject::connect(&line, &SimLine::replySent,
                         [](const QByteArray &reply) { logLine("-> " + hexText(reply)); });
    }
    QObject::connect(&line, &SimLine::lineClosed, &app, [&] {
        if (log)
            logLine(QString("hung up after %1 requests").arg(line.requestCount()));
        app.quit();
    });

    // Scripts wait for this line: it must not sit in a buffer.
    std::printf("%s\n", qPrintable(line.portPath()));
    std::fflush(stdout);
    if (log) {
        logLine(
            QString("unit at bus address %1 (0x%2) on %3%4, %5, turnaround %6 ms")
                .arg(int(options.address))
                .arg(int(options.address), 2, 16, QChar('0'))
                .arg(line.portPath())
                .arg(options.linkPath.isEmpty() ? QString() : " = " + options.linkPath)
                .arg(options.baud > 0 ? QString("%1 baud").arg(options.baud) : QString("no pacing"))
                .arg(options.turnaroundMs));
    }
    return app.exec();
}
