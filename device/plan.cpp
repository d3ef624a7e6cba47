// plan.ini read with its line numbers: an INI reader of its own (QSettings
// knows no lines), then each step checked against the device list.

#include "device/plan.h"

#include "config/devicelist.h"
#include "device/registers.h"
#include "device/values.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>

#include <algorithm>
#include <iterator>

namespace {

struct IniKey
{
    int line = 0;
    QString key; // as written
    QString value;
};

struct IniSection
{
    int line = 0;
    QString name; // as written
    QVector<IniKey> keys;

    const IniKey *find(const QString &key) const
    {
        for (const IniKey &k : keys) {
            if (k.key.compare(key, Qt::CaseInsensitive) == 0)
                return &k;
        }
        return nullptr;
    }
    const IniKey *find(const char *key) const { return find(QString::fromLatin1(key)); }
};

// Throws nothing: the first fault found is kept and the rest is not read.
class PlanReader
{
public:
    PlanReader(const QString &file, PlanError *error)
        : m_file(file)
        , m_error(error)
    {}

    bool parse(const QByteArray &bytes, QVector<IniSection> *sections);
    bool build(const QVector<IniSection> &sections, TestPlan *plan);

private:
    bool fail(int line, const QString &section, const QString &key, const QString &message)
    {
        m_error->file = m_file;
        m_error->line = line;
        m_error->section = section;
        m_error->key = key;
        m_error->message = message;
        return false;
    }
    bool fail(const IniSection &s, const IniKey &k, const QString &message)
    {
        return fail(k.line, s.name, k.key, message);
    }
    bool missing(const IniSection &s, const char *key)
    {
        return fail(s.line, s.name, QLatin1String(key), QStringLiteral("缺少此项"));
    }

    bool readSettings(const IniSection &s, TestPlan *plan);
    bool readStep(const IniSection &s, PlanStep *step);
    bool readModules(const IniSection &s, PlanStep *step);
    bool readEntry(const IniSection &s, PlanStep *step, bool forWrite);
    bool readCriteria(const IniSection &s, PlanStep *step);
    bool readInt(const IniSection &s, const IniKey &k, int min, int max, int *value);
    bool readBool(const IniSection &s, const IniKey &k, bool *value);
    bool readHex16(const IniSection &s, const IniKey &k, quint16 *value);

    QString m_file;
    PlanError *m_error;
};

QString registerText(quint16 base)
{
    return QStringLiteral("%1").arg(base, 4, 16, QLatin1Char('0')).toUpper();
}

// Where a comment starts: ";" or "#" at the start or after a blank.
int commentStart(const QString &line)
{
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if ((c == QLatin1Char(';') || c == QLatin1Char('#'))
            && (i == 0 || line.at(i - 1).isSpace()))
            return i;
    }
    return -1;
}

bool PlanReader::parse(const QByteArray &bytes, QVector<IniSection> *sections)
{
    if (bytes.size() > kPlanMaxBytes)
        return fail(0, QString(), QString(),
                    QStringLiteral("文件超过%1字节，不像测试计划").arg(kPlanMaxBytes));
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    int lineNumber = 0;
    int at = 0;
    while (at < data.size()) {
        // A line ends at LF, CR LF or a lone CR, as editors on any system write it.
        int end = at;
        while (end < data.size() && data.at(end) != '\n' && data.at(end) != '\r')
            ++end;
        const QByteArray raw = data.mid(at, end - at);
        at = end + 1;
        if (end + 1 < data.size() && data.at(end) == '\r' && data.at(end + 1) == '\n')
            ++at;
        ++lineNumber;

        QTextCodec::ConverterState state;
        QString line = utf8->toUnicode(raw.constData(), raw.size(), &state);
        if (state.invalidChars > 0 || raw.contains('\0'))
            return fail(lineNumber, QString(), QString(), QStringLiteral("不是UTF-8文本"));
        const int comment = commentStart(line);
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(lineNumber, QString(), QString(),
                            QStringLiteral("节名“%1”缺少“]”").arg(line));
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (name.isEmpty() || name.contains(QLatin1Char('['))
                || name.contains(QLatin1Char(']')))
                return fail(lineNumber, QString(), QString(),
                            QStringLiteral("节名“%1”无效").arg(line));
            for (const IniSection &s : *sections) {
                if (s.name.compare(name, Qt::CaseInsensitive) == 0)
                    return fail(lineNumber, name, QString(),
                                QStringLiteral("与第%1行的节重复").arg(s.line));
            }
            IniSection section;
            section.line = lineNumber;
            section.name = name;
            sections->append(section);
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(lineNumber, sections->isEmpty() ? QString() : sections->last().name,
                        QString(), QStringLiteral("无法识别“%1”：应为 键=值").arg(line));
        const QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"'))
            && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (sections->isEmpty())
            return fail(lineNumber, QString(), key, QStringLiteral("不在任何节中"));
        if (key.isEmpty())
            return fail(lineNumber, sections->last().name, QString(),
                        QStringLiteral("“=”前缺少键名"));
        IniSection &section = sections->last();
        if (const IniKey *earlier = section.find(key))
            return fail(lineNumber, section.name, key,
                        QStringLiteral("与第%1行重复").arg(earlier->line));
        section.keys.append({lineNumber, key, value});
    }
    return true;
}

bool PlanReader::readInt(const IniSection &s, const IniKey &k, int min, int max, int *value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(k.value).hasMatch())
        return fail(s, k, QStringLiteral("“%1”不是%2～%3的整数").arg(k.value).arg(min).arg(max));
    const int v = k.value.toInt();
    if (v < min || v > max)
        return fail(s, k, QStringLiteral("“%1”超出范围%2～%3").arg(k.value).arg(min).arg(max));
    *value = v;
    return true;
}

bool PlanReader::readBool(const IniSection &s, const IniKey &k, bool *value)
{
    const QString v = k.value.toLower();
    if (v == QLatin1String("true") || v == QLatin1String("yes") || v == QLatin1String("1")) {
        *value = true;
        return true;
    }
    if (v == QLatin1String("false") || v == QLatin1String("no") || v == QLatin1String("0")) {
        *value = false;
        return true;
    }
    return fail(s, k, QStringLiteral("“%1”应为 true 或 false").arg(k.value));
}

bool PlanReader::readHex16(const IniSection &s, const IniKey &k, quint16 *value)
{
    static const QRegularExpression hex(QStringLiteral("^(0[xX])?([0-9A-Fa-f]{1,4})$"));
    const QRegularExpressionMatch m = hex.match(k.value);
    if (!m.hasMatch())
        return fail(s, k, QStringLiteral("“%1”不是1～4位十六进制数").arg(k.value));
    *value = quint16(m.captured(2).toUInt(nullptr, 16));
    return true;
}

bool PlanReader::readSettings(const IniSection &s, TestPlan *plan)
{
    for (const IniKey &k : s.keys) {
        const QString key = k.key.toLower();
        if (key == QLatin1String("name")) {
            if (k.value.isEmpty())
                return fail(s, k, QStringLiteral("计划名称不能为空"));
            plan->name = k.value;
        } else if (key == QLatin1String("stop_on_fail")) {
            if (!readBool(s, k, &plan->stopOnFail))
                return false;
        } else if (key == QLatin1String("autostart")) {
            if (!readBool(s, k, &plan->autostart))
                return false;
        } else {
            return fail(s, k,
                        QStringLiteral("[plan] 中没有此项（可用 name、stop_on_fail、autostart）"));
        }
    }
    if (plan->name.isEmpty())
        return missing(s, "name");
    return true;
}

bool PlanReader::readModules(const IniSection &s, PlanStep *step)
{
    const IniKey *k = s.find("module");
    if (!k)
        return missing(s, "module");
    if (k->value.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        step->modules = allModules();
        return true;
    }
    for (const QString &piece : k->value.split(QLatin1Char(','))) {
        const QString t = piece.trimmed();
        bool ok = false;
        const int module = t.toInt(&ok, 10);
        if (!ok || t.isEmpty() || !allModules().contains(module))
            return fail(s, *k, QStringLiteral("“%1”不是模块号（0～5、10，或 all）").arg(t));
        if (step->modules.contains(module))
            return fail(s, *k, QStringLiteral("模块%1重复").arg(module));
        step->modules.append(module);
    }
    return true;
}

bool PlanReader::readEntry(const IniSection &s, PlanStep *step, bool forWrite)
{
    const IniKey *k = s.find("reg");
    if (!k)
        return missing(s, "reg");
    quint16 base = 0;
    if (!readHex16(s, *k, &base))
        return false;
    const int entry = findEntryByRegister(base);
    // Slots past the list's count hold register 0 too: they are no entries.
    if (entry < 0 || entry >= deviceCount)
        return fail(s, *k,
                    QStringLiteral("config.ini 的设备列表中没有寄存器%1").arg(registerText(base)));
    if (deviceTable[entry].type > kEntryTypeDateTime)
        return fail(
            s, *k,
            QStringLiteral("寄存器%1在设备列表中是分组标题，不能读取").arg(registerText(base)));
    if (forWrite && !writableRegister(base))
        return fail(s, *k,
                    QStringLiteral("寄存器%1不能写入（可写阈值0805、0806、080E和时段0808～080D）")
                        .arg(registerText(base)));
    step->entry = entry;
    return true;
}

bool PlanReader::readCriteria(const IniSection &s, PlanStep *step)
{
    const DeviceEntry &e = deviceTable[step->entry];
    const bool isNumber = e.type == kEntryTypeInteger || e.type == kEntryTypeDouble;
    const bool isWord
        = e.type == kEntryTypeStatusBits || (e.type == kEntryTypeInteger && e.xsws <= 0);
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    int kinds = 0;
    for (const char *name : {"min", "max"}) {
        const IniKey *k = s.find(name);
        if (!k)
            continue;
        if (!isNumber)
            return fail(s, *k, QStringLiteral("“%1”不是数值条目，不能用 min/max").arg(e.des));
        if (!decimal.match(k->value).hasMatch())
            return fail(s, *k, QStringLiteral("“%1”不是数字").arg(k->value));
        if (name[1] == 'i') {
            step->hasMin = true;
            step->min = k->value.toDouble();
            step->minText = k->value;
        } else {
            step->hasMax = true;
            step->max = k->value.toDouble();
            step->maxText = k->value;
        }
    }
    if (step->hasMin && step->hasMax && step->min > step->max)
        return fail(s, *s.find("max"), QStringLiteral("小于 min=%1").arg(step->minText));
    kinds += step->hasMin || step->hasMax ? 1 : 0;

    if (const IniKey *k = s.find("expect")) {
        if (isNumber) {
            if (!decimal.match(k->value).hasMatch())
                return fail(s, *k, QStringLiteral("“%1”不是数字").arg(k->value));
        } else if (e.type == kEntryTypeHexBytes) {
            static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
            if (!hex.match(QString(k->value).remove(QLatin1Char(' '))).hasMatch())
                return fail(s, *k, QStringLiteral("“%1”不是十六进制字节").arg(k->value));
        } else {
            return fail(s, *k, QStringLiteral("“%1”的值不能用 expect 比较").arg(e.des));
        }
        step->hasExpect = true;
        step->expect = k->value;
        ++kinds;
    }

    const IniKey *set = s.find("bits_set");
    const IniKey *clear = s.find("bits_clear");
    for (const IniKey *k : {set, clear}) {
        if (k && !isWord)
            return fail(s, *k,
                        QStringLiteral("“%1”不是状态字，不能用 bits_set/bits_clear").arg(e.des));
    }
    if (set && !readHex16(s, *set, &step->bitsSet))
        return false;
    if (clear && !readHex16(s, *clear, &step->bitsClear))
        return false;
    if (step->bitsSet & step->bitsClear)
        return fail(s, *clear, QStringLiteral("与 bits_set 有相同的位"));
    step->hasBits = set || clear;
    kinds += step->hasBits ? 1 : 0;

    if (kinds > 1)
        return fail(s.line, s.name, QString(),
                    QStringLiteral("min/max、expect 和 bits_set/bits_clear 只能用一种"));
    return true;
}

bool PlanReader::readStep(const IniSection &s, PlanStep *step)
{
    const IniKey *typeKey = s.find("type");
    if (!typeKey)
        return missing(s, "type");
    static const struct
    {
        const char *name;
        PlanStep::Type type;
        QStringList keys; // besides "type"
    } types[] = {
        {"read",
         PlanStep::Read,
         {"reg", "module", "min", "max", "expect", "bits_set", "bits_clear"}},
        {"switch", PlanStep::Switch, {"command", "module", "settle_ms"}},
        {"write", PlanStep::Write, {"reg", "module", "value"}},
        {"clock", PlanStep::Clock, {"module", "max_drift_s"}},
        {"mac", PlanStep::Mac, {}},
        {"reset", PlanStep::Reset, {}},
        {"delay", PlanStep::Delay, {"ms"}},
    };
    const auto *row = std::find_if(std::begin(types), std::end(types), [&](const auto &t) {
        return typeKey->value.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0;
    });
    if (row == std::end(types))
        return fail(
            s, *typeKey,
            QStringLiteral("“%1”不是步骤类型（read、switch、write、clock、mac、reset、delay）")
                .arg(typeKey->value));
    step->type = row->type;
    step->section = s.name;
    step->line = s.line;
    for (const IniKey &k : s.keys) {
        if (k.key.compare(QLatin1String("type"), Qt::CaseInsensitive) != 0
            && !row->keys.contains(k.key.toLower()))
            return fail(s, k, QStringLiteral("%1 步骤没有此项").arg(QLatin1String(row->name)));
    }

    switch (step->type) {
    case PlanStep::Read:
        return readEntry(s, step, false) && readModules(s, step) && readCriteria(s, step);
    case PlanStep::Switch: {
        const IniKey *k = s.find("command");
        if (!k)
            return missing(s, "command");
        static const char *const commands[] = {"close",  "open",    "remote_on", "remote_off",
                                               "lvd_on", "lvd_off", "time_on",   "time_off"};
        int found = -1;
        for (int i = 0; i < int(std::size(commands)); ++i) {
            if (k->value.compare(QLatin1String(commands[i]), Qt::CaseInsensitive) == 0)
                found = i;
        }
        if (found < 0)
            return fail(s, *k,
                        QStringLiteral("“%1”不是命令（close、open、remote_on、remote_off、lvd_on、"
                                       "lvd_off、time_on、time_off）")
                            .arg(k->value));
        step->command = SwitchCommand(found);
        if (const IniKey *settle = s.find("settle_ms")) {
            if (!readInt(s, *settle, 0, kPlanMaxSettleMs, &step->settleMs))
                return false;
        }
        return readModules(s, step);
    }
    case PlanStep::Write: {
        if (!readEntry(s, step, true) || !readModules(s, step))
            return false;
        const IniKey *k = s.find("value");
        if (!k)
            return missing(s, "value");
        // Refused here as the write button would refuse it, before anything runs.
        const DeviceEntry &e = deviceTable[step->entry];
        const WritableRegister *w = writableRegister(e.base);
        const bool threshold = w->maxValue == kScaledThreshold;
        const RegisterValue v
            = threshold ? scaledThreshold(k->value, e.xsws) : windowValue(k->value, w->maxValue);
        if (v.status != RegisterValue::Ok)
            return fail(s, *k,
                        threshold
                            ? QStringLiteral("“%1”不是%2可写入的数值").arg(k->value, e.des)
                            : QStringLiteral("“%1”不是0～%2的整数").arg(k->value).arg(w->maxValue));
        step->value = k->value;
        return true;
    }
    case PlanStep::Clock: {
        const int entry = findEntryByRegister(kClockRegister);
        if (entry < 0 || entry >= deviceCount || deviceTable[entry].type != kEntryTypeDateTime)
            return fail(s, *typeKey,
                        QStringLiteral("config.ini 的设备列表中没有设备时间（寄存器080F）"));
        step->entry = entry;
        if (const IniKey *k = s.find("max_drift_s")) {
            if (!readInt(s, *k, 0, kPlanMaxDriftS, &step->maxDriftS))
                return false;
        }
        return readModules(s, step);
    }
    case PlanStep::Delay: {
        const IniKey *k = s.find("ms");
        if (!k)
            return missing(s, "ms");
        return readInt(s, *k, 0, kPlanMaxDelayMs, &step->delayMs);
    }
    case PlanStep::Mac:
    case PlanStep::Reset:
        return true;
    }
    return true;
}

bool PlanReader::build(const QVector<IniSection> &sections, TestPlan *plan)
{
    static const QRegularExpression stepName(QStringLiteral("^step([1-9][0-9]{0,3})$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const IniSection *settings = nullptr;
    QMap<int, const IniSection *> steps;
    for (const IniSection &s : sections) {
        const QRegularExpressionMatch m = stepName.match(s.name);
        if (s.name.compare(QLatin1String("plan"), Qt::CaseInsensitive) == 0) {
            settings = &s;
        } else if (m.hasMatch()) {
            const int number = m.captured(1).toInt();
            if (steps.contains(number))
                return fail(
                    s.line, s.name, QString(),
                    QStringLiteral("与第%1行的步骤编号相同").arg(steps.value(number)->line));
            steps.insert(number, &s);
        } else {
            return fail(s.line, s.name, QString(),
                        QStringLiteral("不是 [plan] 或 [step1]、[step2]… 这样的节"));
        }
    }
    if (!settings)
        return fail(0, QStringLiteral("plan"), QString(), QStringLiteral("缺少 [plan] 节"));
    if (!readSettings(*settings, plan))
        return false;
    if (steps.isEmpty())
        return fail(0, QString(), QString(), QStringLiteral("没有任何步骤（[step1]、[step2]…）"));
    if (steps.size() > kPlanMaxSteps)
        return fail(0, QString(), QString(), QStringLiteral("步骤超过%1个").arg(kPlanMaxSteps));
    int checks = 0;
    for (const IniSection *s : steps) {
        PlanStep step;
        if (!readStep(*s, &step))
            return false;
        checks += step.checks();
        if (checks > kPlanMaxChecks)
            return fail(s->line, s->name, QString(),
                        QStringLiteral("计划的检查项超过%1个").arg(kPlanMaxChecks));
        plan->steps.append(step);
    }
    return true;
}

} // namespace

int TestPlan::checks() const
{
    int n = 0;
    for (const PlanStep &s : steps)
        n += s.checks();
    return n;
}

QString PlanError::text() const
{
    QString where = file;
    if (line > 0)
        where += QStringLiteral(" 第%1行").arg(line);
    if (!section.isEmpty())
        where += QStringLiteral(" [%1]").arg(section);
    if (!key.isEmpty())
        where += QLatin1Char(' ') + key;
    return where + QStringLiteral("：") + message + QStringLiteral("，一键测试未运行");
}

bool readPlan(const QByteArray &bytes, const QString &fileName, TestPlan *plan, PlanError *error)
{
    *plan = TestPlan();
    *error = PlanError();
    PlanReader reader(fileName, error);
    QVector<IniSection> sections;
    TestPlan read;
    read.fileName = fileName;
    if (!reader.parse(bytes, &sections) || !reader.build(sections, &read))
        return false;
    read.sha256
        = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    *plan = read;
    return true;
}

bool loadPlanFile(const QString &path, TestPlan *plan, PlanError *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *plan = TestPlan();
        *error = PlanError();
        error->file = path;
        error->message = QStringLiteral("无法读取（%1）").arg(file.errorString());
        return false;
    }
    // One byte past the limit is enough to tell a file that is too long.
    return readPlan(file.read(kPlanMaxBytes + 1), path, plan, error);
}

QString planStepTypeName(PlanStep::Type type)
{
    switch (type) {
    case PlanStep::Read:
        return QStringLiteral("read");
    case PlanStep::Switch:
        return QStringLiteral("switch");
    case PlanStep::Write:
        return QStringLiteral("write");
    case PlanStep::Clock:
        return QStringLiteral("clock");
    case PlanStep::Mac:
        return QStringLiteral("mac");
    case PlanStep::Reset:
        return QStringLiteral("reset");
    case PlanStep::Delay:
        return QStringLiteral("delay");
    }
    return QString();
}
