#pragma once
// Reading pages that are mapped from a file without dying when the file is cut.
//
// A read from a mapped page beyond the current end of its file raises SIGBUS,
// which would end the program. runGuarded() runs a short piece of reading code
// with a bus error turned into a false return: the signal handler, installed
// once for the process, jumps back to the guard that the faulting thread set
// up (a thread-local jump buffer exists only for the duration of the call).
// A bus error outside any guard goes on to the handler that was there before,
// or to the default action, as if no handler had been installed.
//
// The guarded code must only read memory and write plain values: it is left
// by a jump, so it must hold no lock, allocate nothing and own no object with
// a destructor.

// Runs fn(ctx); false when a bus error interrupted it.
bool runGuarded(void (*fn)(void *), void *ctx);
