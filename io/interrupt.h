// Ending reads that wait: a read of a pipe or FIFO that stalls would hold a
// run past SIGINT or SIGTERM. Once reads are made interruptible, waiting
// reads also watch a wake-up pipe, which interruptReads() (safe in a signal
// handler) makes readable for good: every waiting and later wait of an
// input that is not a regular file then ends with EINTR.
#pragma once

namespace nrvq {

// Creates the wake-up pipe; call before any signal handler that uses
// interruptReads() is installed. Idempotent.
void enableReadInterrupts();
// Ends every wait of a read, now and later. Async-signal-safe.
void interruptReads();
// Whether interruptReads() has been called: network reads, which FFmpeg's
// libraries make, ask this through their interrupt callback.
bool readsInterrupted();
// Waits until fd can be read without blocking. False (errno EINTR) when
// reads were interrupted first.
bool waitReadable(int fd);

}  // namespace nrvq
