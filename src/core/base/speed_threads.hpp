// The threads the core starts only to go faster, and the switch that turns
// each off: QUILLON_THREADS=no-print,no-decode,no-prefault (any of them),
// read once per process. Off, the work is done on the calling thread, with
// the same result; `make bench` compares the two.
#pragma once

namespace quillon {

enum class SpeedThread { print, decode, prefault };

// Whether `thread` may be started (QUILLON_THREADS does not turn it off).
bool speed_thread_on(SpeedThread thread);

}  // namespace quillon
