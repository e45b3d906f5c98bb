// Pumping the calling thread's messages until a condition holds or time runs out.
//
// Both helpers dispatch the calling thread's messages in the order GetMessage gives them
// (posted messages and input, then paints, then timers) and sleep on the queue, never spin.
// A WM_QUIT they meet is left for the host's own loop: it is posted again and the pump returns.
#pragma once
#include <chrono>
#include <functional>

#include "windef.h"

namespace platform {

// Dispatches messages until done() is true (checked first, after every message, and at least
// every 10 ms while the queue is idle) or the timeout has passed, or a WM_QUIT arrives.
// Returns done() as last seen.
bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Dispatches every message that is ready now: posted ones, paints, and timers that are due.
// Never blocks. Returns the number of messages dispatched.
int PumpPendingMessages();

}  // namespace platform
