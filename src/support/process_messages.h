// Pumping the calling thread's message queue while it waits, so that the windows the thread
// owns (timers among them) stay responsive.
//
// Works only on the calling thread's own queue. Without a message queue (non-Windows builds)
// there is nothing to pump: ProcessOneMessage returns false at once.
#pragma once

namespace kiv {

// Takes one message off the queue without waiting, translates and dispatches it when it is
// addressed to a window (thread messages are dropped), and returns true. Returns false when
// the queue is empty, or on the quit message, which is put back so that the thread's main
// loop still sees it. An exception thrown while dispatching is dropped.
bool ProcessOneMessage();

// Repeats ProcessOneMessage until it returns false, yielding the time slice after every tenth
// message; with maxCount > 0 stops after that many messages (0: no limit). Returns the number
// of messages handled.
int ProcessMessages(int maxCount = 0);

}  // namespace kiv
