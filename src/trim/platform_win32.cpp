#include <windows.h>

#include <string>

#include "trim/platform.h"

int64_t stream_size(std::FILE* f) {
  if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(_ftelli64(f));
}

bool copy_in_kernel(std::FILE*, std::FILE*) {
  return false;
}

bool names_fifo(const char*) {
  return false;
}

std::filesystem::path file_path(const std::string& name) {
  // The code page fopen converts with: UTF-8 under the program's manifest.
  const int size = static_cast<int>(name.size());
  const int wide_size = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  if (wide_size <= 0) return {};
  std::wstring wide(static_cast<size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), wide_size);
  return std::filesystem::path(wide);
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

namespace {

// Far past any data, so that the lock never stands in the way of the run's
// own reads and writes through other handles.
constexpr DWORD lock_offset_high = 0x40000000;

bool same_file_id(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

staging_lock lock_staging(const char* name) {
  const std::wstring wide = file_path(name).wstring();
  constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A removed file keeps its name, unopenable, until the last run that
  // waited on it lets go: then try again, for a while.
  for (int pending = 0; pending < 2000;) {
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share_all, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_ACCESS_DENIED ||
          GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return {};
      }
      ++pending;
      Sleep(1);
      continue;
    }
    OVERLAPPED at = {};
    at.OffsetHigh = lock_offset_high;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
      CloseHandle(h);
      return {};
    }
    // The run we waited for may have removed the file: a lock on a file that
    // no longer has the name holds nothing.
    HANDLE named = CreateFileW(wide.c_str(), 0, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool ours = named != INVALID_HANDLE_VALUE && same_file_id(h, named);
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    if (ours) return {reinterpret_cast<intptr_t>(h)};
    CloseHandle(h);
  }
  return {};
}

void unlock_staging(staging_lock* lock) {
  // Closing the handle ends the lock.
  if (lock->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
  lock->handle = -1;
}

void use_copy_buffer(std::FILE* f) {
  // The C runtime's 4 KiB default costs a system call per few chunks.
  std::setvbuf(f, nullptr, _IOFBF, size_t{1} << 16);
}
