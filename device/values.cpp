// Placeholder until its issue is built.
#include "device/values.h"
RegisterValue scaledThreshold(const QString &, int) { return {}; }
RegisterValue windowValue(const QString &) { return {}; }
QStringList macGroups(const QString &) { return {}; }
MacStep macAdvance(const QString &, int) { return {}; }
