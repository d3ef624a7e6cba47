// Placeholder until its issue is built.
#include "tools/pty.h"
