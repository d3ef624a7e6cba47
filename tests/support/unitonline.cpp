#include "support/unitonline.h"

#include "support/windowdriver.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

static QString sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("FEEDERBENCH_SOURCE_DIR"));
}

BenchRig::BenchRig(const QByteArray &configIni)
{
    m_oldDir = QDir::currentPath();
    QTemporaryDir dir;
    dir.setAutoRemove(false);
    m_dir = dir.path();
    QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"), m_dir + QStringLiteral("/mac.csv"));
    if (configIni.isEmpty()) {
        QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                    m_dir + QStringLiteral("/config.ini"));
    } else {
        QFile f(m_dir + QStringLiteral("/config.ini"));
        if (f.open(QIODevice::WriteOnly))
            f.write(configIni);
    }
    QDir::setCurrent(m_dir);

    m_unit = std::make_unique<UnitOnLine>();
    QObject::connect(&m_unit->line, &SimLine::requestSeen, [this](const QByteArray &request) {
        m_requests << QString::fromLatin1(request.toHex(' ').toUpper());
    });
    m_window = std::make_unique<MainWindow>();
    m_ready = m_unit->line.isOpen() && openPortOn(*m_window, m_unit->line.portPath());
}

BenchRig::~BenchRig()
{
    m_window.reset(); // closes the port before the line's master goes
    m_unit.reset();
    QDir::setCurrent(m_oldDir);
    QDir(m_dir).removeRecursively();
}

void BenchRig::selectModule(const QString &module)
{
    auto *combo = widget<QComboBox>(*m_window, "comboBox_md");
    combo->setCurrentIndex(combo->findText(module));
}

void BenchRig::click(const char *buttonName)
{
    widget<QPushButton>(*m_window, buttonName)->click();
}
