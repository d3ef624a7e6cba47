#pragma once

// How long the tool waits for the unit: every front end's exchange (the
// window's, the command line's) waits by these.

// The unit answers well within a second.
constexpr int kReplyTimeoutMs = 1000;
// A reply has gone quiet once more than this has passed since its last chunk.
constexpr int kQuietGapMs = 40;
