// A peer that has gone away must show as a failed send, never end the program. The
// system's zero-copy file send has no per-call way to say so, so the program ignores the
// broken-pipe signal once at start-up; every main (the installer's, the tests') calls this.
// Windows has no such signal: there this does nothing, and the signal counts as ignored.
#pragma once

namespace platform {

void IgnoreBrokenPipe();

// Whether the broken-pipe signal is ignored in this process.
bool BrokenPipeIgnored();

} // namespace platform
