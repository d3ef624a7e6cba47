// Placeholder until its issue is built.
#include "tools/pduunit.h"
