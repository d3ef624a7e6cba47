#pragma once

// The simulated unit answering on a pseudo-terminal inside the test process,
// and a window whose port is open on it: the end-to-end set-up of the device
// operation tests.

#include "app/mainwindow.h"
#include "support/testdata.h"
#include "tools/pduunit.h"
#include "tools/simline.h"

#include <functional>
#include <memory>

struct UnitOnLine
{
    PduUnit unit;
    SimLine line;

    // No line timing by default: tests are about behaviour, not speed.
    UnitOnLine()
        : line([this](const QByteArray &request) { return unit.handleFrame(request); },
               &PduUnit::requestLength)
    {}
};

// What the operation tests break in the unit before they click.
enum UnitFault { NoUnitFault, Silent, Exception02, Exception06, CorruptCrc };
Q_DECLARE_METATYPE(UnitFault)

// Puts fault on module of unit (a corrupted CRC is the whole unit's).
void breakUnit(PduUnit &unit, int module, UnitFault fault);

// A window in a working directory that holds the sample config.ini and
// mac.csv, its port open on a simulated unit. Destroying it closes the
// window's port before the line goes away.
class BenchRig
{
public:
    // configIni, macCsv: the contents of config.ini and mac.csv; empty = the
    // files in examples/. planIni: plan.ini's; empty = no plan.ini.
    explicit BenchRig(const QByteArray &configIni = QByteArray(),
                      const QByteArray &macCsv = QByteArray(),
                      const QByteArray &planIni = QByteArray());
    ~BenchRig();

    bool ready() const { return m_ready; }
    MainWindow &window() { return *m_window; }
    PduUnit &unit() { return m_unit->unit; }
    SimLine &line() { return m_unit->line; }

    // Requests the unit saw, as hex text "55 06 18 02 00 00 23 7E".
    QStringList requestsSeen() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    // The window closed and started again in the same folder, its port
    // opened on the same unit: what a bench does between two shifts.
    // whileClosed runs in between.
    bool restartWindow(const std::function<void()> &whileClosed = {});

    void selectModule(const QString &module); // comboBox_md's text
    void click(const char *buttonName);

private:
    ScratchDir m_dir; // first in, last out: the window's files live here
    std::unique_ptr<UnitOnLine> m_unit;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_requests;
    bool m_ready = false;
};
