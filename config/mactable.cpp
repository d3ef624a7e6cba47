// Placeholder until its issue is built.
#include "config/mactable.h"
MacTable readMacTable(QIODevice &) { return {}; }
int findSerialNumber(const QStringList &, const QString &) { return -1; }
