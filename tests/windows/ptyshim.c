/* Modem lines for a pseudo-terminal, for the window under Wine on COM5.
 *
 * Wine's COM port is a Linux terminal, here pdu-sim's pseudo-terminal, which
 * has no modem lines: TIOCMGET fails on it. Wine 8 reads the modem lines each
 * time it looks for a serial event and ends a wait for received characters at
 * once, with nothing received, when it cannot; so a Windows program waiting
 * for the unit's reply never hears it. A serial cable to the unit has the lines.
 *
 * scripts/test-wine.sh builds this with gcc and preloads it into the Wine
 * process of the end-to-end test only. It answers only where the terminal
 * itself refuses (ENOTTY or EINVAL) and only on a pseudo-terminal: the lines
 * read as a connected cable would show them (DTR, RTS, CTS, DSR and carrier
 * on), and setting DTR or RTS is remembered. Every other call is the real one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int modemLines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;

/* Unix 98 pseudo-terminal slaves have majors 136 to 143. */
static int isPseudoTerminal(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136
           && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }

    const int result = real(fd, request, arg);
    if (result != -1 || (errno != ENOTTY && errno != EINVAL) || !isPseudoTerminal(fd))
        return result;
    const int settable = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET:
        *(int *)arg = modemLines;
        return 0;
    case TIOCMSET:
        modemLines = (modemLines & ~settable) | (*(const int *)arg & settable);
        return 0;
    case TIOCMBIS:
        modemLines |= *(const int *)arg & settable;
        return 0;
    case TIOCMBIC:
        modemLines &= ~(*(const int *)arg & settable);
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}
