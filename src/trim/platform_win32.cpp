#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "trim/platform.h"

namespace {

HANDLE handle_of(os_file f) {
  return reinterpret_cast<HANDLE>(f.handle);
}

os_file file_of(HANDLE h) {
  return {h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h)};
}

std::wstring wide_name(const std::string& name) {
  return file_path(name).wstring();
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Far past any data, so that the lock never stands in the way of the run's
// own reads and writes.
constexpr DWORD lock_offset_high = 0x40000000;

uint64_t bytes_at(const BYTE* at) {
  uint64_t n = 0;
  for (int k = 7; k >= 0; --k) n = n << 8 | at[k];
  return n;
}

// The 128-bit id where the file system gives one (ReFS needs all of it), else
// the 64-bit index.
file_id id_of(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
  FILE_ID_INFO wide;
  if (GetFileInformationByHandleEx(h, FileIdInfo, &wide, sizeof wide)) {
    return {wide.VolumeSerialNumber, bytes_at(wide.FileId.Identifier),
            bytes_at(wide.FileId.Identifier + 8)};
  }
  return {info.dwVolumeSerialNumber,
          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0};
}

}  // namespace

bool describe(os_file f, file_facts* facts) {
  // Only a file on disk has an identity: not a pipe, the console or NUL.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle_of(f)) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle_of(f), &info)) {
    return false;
  }
  facts->id = id_of(handle_of(f), info);
  facts->regular =
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  facts->size = facts->regular
                    ? static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                           info.nFileSizeLow)
                    : 0;
  facts->modified =
      static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime);
  facts->links = info.nNumberOfLinks;
  facts->owned = true;  // the folder's permissions decide who reads it
  return true;
}

bool guard_standard_streams() {
  // Handles are not small numbers: a file opened later cannot take a missing stream's place.
  return true;
}

bool open_for_reading(const std::string& name, os_file* f) {
  *f = file_of(CreateFileW(wide_name(name).c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return f->handle != -1;
}

bool open_for_writing(const std::string& name, open_mode mode, os_file* f) {
  const bool own = mode != open_mode::named_output;
  *f = file_of(CreateFileW(
      wide_name(name).c_str(), GENERIC_WRITE, share_all, nullptr,
      mode == open_mode::new_working_file || mode == open_mode::new_private_file ? CREATE_NEW
                                                                                 : OPEN_ALWAYS,
      own ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (f->handle == -1) return false;
  // The program's own files are never reached through a link.
  file_facts facts;
  if (own && describe(*f, &facts) && !facts.regular) {
    close_file(f);
    return false;
  }
  return true;
}

int64_t read_some(os_file f, void* buf, size_t n) {
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (ReadFile(handle_of(f), buf, want, &got, nullptr)) return got;
  // A pipe whose writer has gone, or has let this client go, is at its end.
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
      error == ERROR_HANDLE_EOF) {
    return 0;
  }
  return error == ERROR_MORE_DATA ? static_cast<int64_t>(got) : -1;
}

int64_t write_some(os_file f, const void* buf, size_t n) {
  DWORD put = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!WriteFile(handle_of(f), buf, want, &put, nullptr) || put == 0) return -1;
  return put;
}

bool truncate_to_empty(os_file f) {
  return rewind_file(f) && SetEndOfFile(handle_of(f));
}

bool rewind_file(os_file f) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(handle_of(f), start, nullptr, FILE_BEGIN);
}

bool sync_file(os_file f) {
  return FlushFileBuffers(handle_of(f));
}

bool sync_directory(const std::string&) {
  // The file system journals a new name with the file's own flush.
  return true;
}

bool survives_power_cut(const std::string&) {
  return true;
}

bool lock_exclusive(os_file f) {
  OVERLAPPED at = {};
  at.OffsetHigh = lock_offset_high;
  return LockFileEx(handle_of(f), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
}

bool add_name(const std::string& existing, const std::string& name) {
  return CreateHardLinkW(wide_name(name).c_str(), wide_name(existing).c_str(), nullptr);
}

bool remove_name(const std::string& name, const file_id& id) {
  // Checked and removed through one handle, so that a file put in its place
  // in between is left alone.
  HANDLE h = CreateFileW(wide_name(name).c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  file_facts facts;
  FILE_DISPOSITION_INFO remove = {TRUE};
  const bool removed = describe(file_of(h), &facts) && facts.id == id &&
                       SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
  return CloseHandle(h) && removed;
}

bool name_leads_to(const std::string& name, const file_id& id, bool follow_links) {
  HANDLE h = CreateFileW(wide_name(name).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                         follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file_facts facts;
  const bool same = describe(file_of(h), &facts) && facts.id == id;
  CloseHandle(h);
  return same;
}

bool make_private(os_file) {
  return true;  // the folder's permissions decide who reads it
}

bool close_file(os_file* f) {
  const bool closed = f->handle == -1 || CloseHandle(handle_of(*f));
  f->handle = -1;
  return closed;
}

bool copy_in_kernel(os_file, os_file) {
  return false;
}

std::filesystem::path file_path(const std::string& name) {
  // Not the system's converters: they depend on the code page, or replace a
  // lone surrogate.
  const std::u16string wide = utf16_from_utf8(name);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

size_t name_start(const std::string& name) {
  // A drive prefix ("C:name") ends at its colon.
  const size_t separator = name.find_last_of("/\\:");
  return separator == std::string::npos ? 0 : separator + 1;
}

own_open open_staging_file(const char* name, bool create, os_file* f) {
  const std::wstring wide = wide_name(name);
  *f = file_of(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share_all, nullptr,
                           create ? CREATE_NEW : OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr));
  if (f->handle != -1) return own_open::opened;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS) return own_open::exists;
  if (error == ERROR_FILE_NOT_FOUND) return own_open::missing;
  // A removed file keeps its name, unopenable, until the last run that
  // waited on it lets go.
  if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return own_open::busy;
  }
  return own_open::failed;
}

void wait_for_name() {
  Sleep(1);
}

void write_message(const std::string& utf8) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(err, &mode)) {
    std::fputs(utf8.c_str(), stderr);  // a text-mode stream: CR LF line ends
    return;
  }
  std::u16string text;
  for (const char16_t c : utf16_from_utf8(utf8)) {
    if (c == u'\n') text += u'\r';
    text += c;
  }
  DWORD put = 0;
  for (size_t at = 0; at < text.size(); at += put) {
    if (!WriteConsoleW(err, text.data() + at, static_cast<DWORD>(text.size() - at), &put,
                       nullptr) ||
        put == 0) {
      return;
    }
  }
}

int usable_cpus() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) return 1;
  int cpus = 0, all = 0;
  for (; process_mask != 0; process_mask &= process_mask - 1) ++cpus;
  for (; system_mask != 0; system_mask &= system_mask - 1) ++all;
  // A job's hard cap is a share of all the system's CPUs, in 1/10000ths.
  JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate = {};
  const DWORD capped = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
  if (QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                nullptr) &&
      (rate.ControlFlags & capped) == capped) {
    cpus = std::min(cpus, static_cast<int>(static_cast<uint64_t>(rate.CpuRate) * all / 10000));
  }
  return std::max(cpus, 1);
}
