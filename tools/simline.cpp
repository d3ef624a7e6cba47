// Placeholder until the simulated line is built.
#include "tools/simline.h"
#include "tools/pty.h"

SimLine::SimLine(Responder responder, Framer framer, QObject *parent)
    : QObject(parent), m_responder(std::move(responder)), m_framer(std::move(framer))
{
}
SimLine::~SimLine() = default;
bool SimLine::isOpen() const { return false; }
QString SimLine::portPath() const { return {}; }
bool SimLine::makeLink(const QString &) { return false; }
void SimLine::hangUp() {}
void SimLine::onBytes(const QByteArray &) {}
