#pragma once

// Runs this thread's file access as the unprivileged user "nobody" while it
// lives. The suite runs as root in CI, and root opens and creates files
// whatever their permissions say; the cases of a user without rights to a
// port or a folder need someone to whom permissions apply. Linux changes the
// file-system user of the calling thread only (setfsuid), which also drops
// root's overriding capabilities until it is set back. Run as another user,
// the tests already are that someone and this does nothing.
class Unprivileged
{
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    // False when the change was needed and could not be made.
    bool ok() const { return m_ok; }

private:
    bool m_wasRoot = false;
    bool m_ok = true;
};
