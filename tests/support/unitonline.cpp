#include "support/unitonline.h"

#include "support/windowdriver.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>

BenchRig::BenchRig(const QByteArray &configIni, const QByteArray &macCsv, const QByteArray &planIni)
{
    if (!planIni.isEmpty())
        m_dir.write(QStringLiteral("plan.ini"), planIni);
    if (macCsv.isEmpty())
        QFile::copy(sourceDir() + QStringLiteral("/examples/mac.csv"),
                    m_dir.path() + QStringLiteral("/mac.csv"));
    else
        m_dir.write(QStringLiteral("mac.csv"), macCsv);
    if (configIni.isEmpty())
        QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                    m_dir.path() + QStringLiteral("/config.ini"));
    else
        m_dir.write(QStringLiteral("config.ini"), configIni);

    m_unit = std::make_unique<UnitOnLine>();
    QObject::connect(&m_unit->line, &SimLine::requestSeen, [this](const QByteArray &request) {
        m_requests << QString::fromLatin1(request.toHex(' ').toUpper());
    });
    m_window = std::make_unique<MainWindow>();
    m_ready = m_dir.isValid() && m_unit->line.isOpen()
              && openPortOn(*m_window, m_unit->line.portPath());
}

bool BenchRig::restartWindow(const std::function<void()> &whileClosed)
{
    m_window.reset();
    if (whileClosed)
        whileClosed();
    m_window = std::make_unique<MainWindow>();
    m_ready = openPortOn(*m_window, m_unit->line.portPath());
    return m_ready;
}

BenchRig::~BenchRig()
{
    m_window.reset(); // closes the port before the line's master goes
    m_unit.reset();
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

void breakUnit(PduUnit &unit, int module, UnitFault fault)
{
    switch (fault) {
    case NoUnitFault:
        break;
    case Silent:
        unit.silentModules.insert(module);
        break;
    case Exception02:
        unit.forcedException.insert(module, 0x02);
        break;
    case Exception06:
        unit.forcedException.insert(module, 0x06);
        break;
    case CorruptCrc:
        unit.corruptCrc = true;
        break;
    }
}
