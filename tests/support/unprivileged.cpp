#include "support/unprivileged.h"

#include <sys/fsuid.h>
#include <unistd.h>

namespace {
constexpr unsigned kNobody = 65534;
}

Unprivileged::Unprivileged()
{
    if (::geteuid() != 0)
        return;
    m_wasRoot = true;
    ::setfsgid(kNobody);
    ::setfsuid(kNobody);
    // setfsuid answers with the previous value; asking again tells whether it took.
    m_ok = unsigned(::setfsuid(kNobody)) == kNobody;
}

Unprivileged::~Unprivileged()
{
    if (!m_wasRoot)
        return;
    ::setfsuid(0);
    ::setfsgid(0);
}
