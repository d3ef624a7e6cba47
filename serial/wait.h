#pragma once

#include "serial/replytiming.h"

// Lets ms milliseconds pass while the event loop keeps serving the window;
// the thread sleeps between events. DelayMs(0) returns at once.
void DelayMs(int ms);
