#pragma once

// Lets ms milliseconds pass while the event loop keeps serving the window;
// the thread sleeps between events. DelayMs(0) returns at once.
void DelayMs(int ms);

// A reply has gone quiet once more than this has passed since its last chunk.
constexpr int kQuietGapMs = 40;
