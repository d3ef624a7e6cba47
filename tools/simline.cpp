// Placeholder until its issue is built.
#include "tools/simline.h"
