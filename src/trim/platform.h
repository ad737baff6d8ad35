// The few file operations that differ between Windows and POSIX systems.
#pragma once

#include <cstdint>
#include <cstdio>

// Size of an open stream by seeking to its end (64-bit everywhere); -1 when
// the stream cannot seek.
int64_t stream_size(std::FILE* f);

// Copies the rest of `from` to `to` inside the kernel where the platform can.
// Returns true when `from` reached its end; false leaves both streams at the
// positions reached so far, for the portable loop to go on from.
bool copy_in_kernel(std::FILE* from, std::FILE* to);

// True for a named pipe: opening one just to size it could lose what its
// writer sends, so it is read only once.
bool names_fifo(const char* name);
