// The few file operations that differ between Windows and POSIX systems.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

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

// A name as the C library's file functions read it. Windows takes narrow names
// in the process code page, which std::filesystem does not assume there.
std::filesystem::path file_path(const std::string& name);

// True when two absolute, normalized paths are spelled alike for the file
// system: Windows ignores letter case.
bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

// An exclusive hold on the staging file, which the system drops when the
// process ends, however it ends. `handle` is -1 when nothing is held.
struct staging_lock {
  intptr_t handle = -1;
};

// Waits until no other run holds the file `name`, creating it if need be, and
// holds it. Where the file system has no locks, or the file cannot be opened,
// nothing is held: the run goes on as it would alone.
staging_lock lock_staging(const char* name);
void unlock_staging(staging_lock* lock);

// Gives a stream that copies a whole file a buffer to match, where the C
// library's default is small. Call before any other use of the stream.
void use_copy_buffer(std::FILE* f);
