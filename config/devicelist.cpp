// The device list of config.ini, loaded into the fixed table that the device
// operations index.

#include "config/devicelist.h"

#include "config/settings.h"

DeviceEntry deviceTable[kDeviceTableSize];
int deviceCount = 0;

namespace {

QString sectionName(int index)
{
    return QString::asprintf("dev%02d", index);
}

} // namespace

QStringList load_device_list()
{
    QStringList lines;

    // Every load starts from the table's initial contents: entries the file
    // does not reach must not keep a register from an earlier load, since the
    // register lookup searches all of them.
    for (DeviceEntry &entry : deviceTable)
        entry = DeviceEntry{};

    // The settings are read as UTF-8. Names saved in another encoding show as
    // replacement characters, and a GBK character whose second byte is 5C
    // reads as a backslash that joins the next line to the name, so the key
    // on that line is lost without a trace: the engineer has to know.
    if (!config_file_is_utf8())
        lines << QStringLiteral("config.ini不是UTF-8编码：名称会显示为乱码，后面的键也可能读错，"
                                "请将文件另存为UTF-8");

    const int listed = read_config_int(QStringLiteral("comm"), QStringLiteral("count"));
    // deviceCount bounds every walk over the table, so it never names more
    // entries than the table has.
    deviceCount = qBound(0, listed, kDeviceTableSize);
    if (listed > kDeviceTableSize) {
        lines << QStringLiteral("设备列表的条目数%1超过上限%2，%3及以后的条目已忽略")
                     .arg(QString::number(listed), QString::number(kDeviceTableSize),
                          sectionName(kDeviceTableSize));
    }

    for (int i = 0; i < deviceCount; ++i) {
        const QString section = sectionName(i);
        DeviceEntry &entry = deviceTable[i];
        entry.reg = read_config_string(section, QStringLiteral("reg"));
        bool isHex = false;
        // Only the low 16 bits make the register, whatever the text held.
        entry.base = quint16(entry.reg.toULongLong(&isHex, 16));
        if (!isHex) {
            // The entries from here on keep their initial contents.
            lines << entry.reg + QStringLiteral(":输入的数据格式有错误！");
            break;
        }
        entry.des = read_config_string(section, QStringLiteral("des"));
        entry.type = read_config_int(section, QStringLiteral("type"));
        entry.regnum = read_config_int(section, QStringLiteral("regnum"));
        entry.xsws = read_config_int(section, QStringLiteral("xsws"));
    }
    return lines;
}

QVector<DeviceGroup> deviceGroups()
{
    QVector<DeviceGroup> groups;
    int index = 0;
    while (index < deviceCount) {
        if (deviceTable[index].type < kGroupHeaderType) {
            ++index;
            continue;
        }
        DeviceGroup group{index, {}};
        for (++index; index < deviceCount && deviceTable[index].type < kGroupEndType; ++index)
            group.entries.append(index);
        groups.append(group);
    }
    return groups;
}

int findEntryByRegister(quint16 base)
{
    // The whole table, not only the loaded count: unused entries hold register 0.
    for (int i = 0; i < kDeviceTableSize; ++i) {
        if (deviceTable[i].base == base)
            return i;
    }
    return -1;
}
