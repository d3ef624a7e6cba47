// Placeholder until its issue is built.
#include "protocol/hex.h"
QString hexRequestText(const unsigned char *, int) { return {}; }
QString hexReplyText(const unsigned char *, int) { return {}; }
SendConversion convertSendText(const QString &, bool) { return {}; }
