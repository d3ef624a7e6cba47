#pragma once

// The provisioning record on a private PostgreSQL server (tools/pgserver.h),
// as the tests and the benchmark of the shared record open it. Unix only.

#include "device/journal.h"
#include "tools/pgserver.h"

JournalOptions recordOnServer(const PgServer &server, const QString &bench);
