#include "support/privaterecord.h"

JournalOptions recordOnServer(const PgServer &server, const QString &bench)
{
    JournalOptions options;
    options.driver = JournalOptions::Postgres;
    options.host = server.socketDir();
    options.port = PgServer::kPort;
    options.database = PgServer::database();
    options.user = PgServer::user();
    options.bench = bench;
    return options;
}
