// Placeholder until its issue is built.
#include "support/windowdriver.h"
