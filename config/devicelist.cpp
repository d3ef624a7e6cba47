// Placeholder until its issue is built.
#include "config/devicelist.h"
DeviceEntry deviceTable[kDeviceTableSize];
int deviceCount = 0;
QStringList load_device_list() { return {}; }
int findEntryByRegister(quint16) { return -1; }
