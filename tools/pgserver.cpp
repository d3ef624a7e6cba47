// A private PostgreSQL server in a temporary folder.

#include "tools/pgserver.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCommandTimeoutMs = 120000;
const char kServerUser[] = "nobody"; // who runs the server when we are root

} // namespace

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    stop();
}

QString PgServer::binDir()
{
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), [&](const QString &a, const QString &b) {
        return numeric.compare(a, b) > 0; // the newest first
    });
    for (const QString &v : versions) {
        const QString bin = root.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb"))
            && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

bool PgServer::run(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir.path());
    const QString path = binDir() + QLatin1Char('/') + program;
    if (::geteuid() == 0) {
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QLatin1String(kServerUser),
                                  QStringLiteral("--"), path}
                          + arguments);
    } else {
        process.start(path, arguments);
    }
    if (!process.waitForFinished(kCommandTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        if (error)
            *error = program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool PgServer::start(QString *error)
{
    if (m_running)
        return true;
    if (binDir().isEmpty()) {
        *error = QStringLiteral("PostgreSQL server programs not found under /usr/lib/postgresql");
        return false;
    }
    if (!m_initialised) {
        if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("socket"))) {
            *error = QStringLiteral("cannot make a temporary folder");
            return false;
        }
        if (::geteuid() == 0) {
            // The server's user must reach its folder inside ours.
            const passwd *pw = ::getpwnam(kServerUser);
            if (!pw || ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) != 0
                || ::chown(QFile::encodeName(socketDir()).constData(), pw->pw_uid, pw->pw_gid) != 0
                || !QDir(m_dir.path()).mkpath(QStringLiteral("data"))
                || ::chown(QFile::encodeName(m_dir.path() + QStringLiteral("/data")).constData(),
                           pw->pw_uid, pw->pw_gid)
                       != 0) {
                *error = QStringLiteral("cannot hand the folder to the user %1")
                             .arg(QLatin1String(kServerUser));
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_dir.path() + QStringLiteral("/data"),
                  QStringLiteral("-U"), user(), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                  QStringLiteral("--no-sync")},
                 error))
            return false;
        m_initialised = true;
    }
    const QString options
        = QStringLiteral("-k %1 -p %2 -c listen_addresses=''").arg(socketDir()).arg(kPort);
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"),
              m_dir.path() + QStringLiteral("/data"), QStringLiteral("-l"),
              socketDir() + QStringLiteral("/server.log"), QStringLiteral("-o"), options},
             error))
        return false;
    m_running = true;
    return true;
}

bool PgServer::stop(QString *error)
{
    if (!m_running)
        return true;
    m_running = false;
    return run(QStringLiteral("pg_ctl"),
               {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                QStringLiteral("fast"), QStringLiteral("-D"),
                m_dir.path() + QStringLiteral("/data")},
               error);
}
