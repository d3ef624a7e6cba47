#pragma once

// A private PostgreSQL server for the tests and the benchmark: a fresh
// cluster in a temporary folder, reached only through a Unix socket there,
// run by an unprivileged user when we are root (the server refuses root).
// Debian installs the server programs under /usr/lib/postgresql/<version>/bin.

#include <QString>
#include <QTemporaryDir>

class PgServer
{
public:
    PgServer();
    ~PgServer(); // stops the server

    // The folder of initdb and pg_ctl, or "" when the server is not installed.
    static QString binDir();

    bool start(QString *error); // initdb on the first call, then pg_ctl start
    bool stop(QString *error = nullptr);

    QString socketDir() const { return m_dir.path() + QStringLiteral("/socket"); }
    static constexpr int kPort = 5432; // names the socket file only: nothing listens on TCP
    static QString user() { return QStringLiteral("postgres"); }
    static QString database() { return QStringLiteral("postgres"); }

private:
    bool run(const QString &program, const QStringList &arguments, QString *error);

    QTemporaryDir m_dir;
    bool m_initialised = false;
    bool m_running = false;
};
