#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "trim/platform.h"
#include "trim/win_rules.h"

static_assert(win_file_type_disk == FILE_TYPE_DISK &&
              win_attribute_directory == FILE_ATTRIBUTE_DIRECTORY &&
              win_attribute_reparse_point == FILE_ATTRIBUTE_REPARSE_POINT &&
              win_invalid_attributes == INVALID_FILE_ATTRIBUTES &&
              IsReparseTagNameSurrogate(win_name_surrogate_bit) &&
              win_error_file_not_found == ERROR_FILE_NOT_FOUND &&
              win_error_access_denied == ERROR_ACCESS_DENIED &&
              win_error_file_exists == ERROR_FILE_EXISTS &&
              win_error_delete_pending == ERROR_DELETE_PENDING);

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

// FileDispositionInfoEx and its FILE_DISPOSITION_INFO_EX flags, which the
// headers declare only for builds that require Windows 10 1607; older systems
// refuse the class, and the plain FileDispositionInfo is used instead.
const auto file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD disposition_delete = 0x1;
constexpr DWORD disposition_posix_semantics = 0x2;

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

// Streams of one file share its id: the handles opened on a named stream,
// and which, as only the name tells it.
std::vector<std::pair<HANDLE, uint64_t>> stream_keys;

uint64_t stream_key_of(HANDLE h) {
  for (const auto& [held, key] : stream_keys) {
    if (held == h) return key;
  }
  return 0;
}

HANDLE open_named(const std::string& name, DWORD access, DWORD disposition, DWORD flags,
                  DWORD share = share_all) {
  const HANDLE h =
      CreateFileW(wide_name(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
  const uint64_t key = win_stream_key(name);
  if (h != INVALID_HANDLE_VALUE && key != 0) stream_keys.emplace_back(h, key);
  return h;
}

bool close_handle(HANDLE h) {
  std::erase_if(stream_keys, [h](const auto& held) { return held.first == h; });
  return CloseHandle(h);
}

// The tag says whether a reparse point is a link; one that cannot be read
// counts as one.
DWORD reparse_tag_of(HANDLE h, DWORD attributes) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;
  return GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)
             ? tag.ReparseTag
             : IO_REPARSE_TAG_SYMLINK;
}

bool same_file(HANDLE a, HANDLE b) {
  file_facts fa, fb;
  return describe(file_of(a), &fa) && describe(file_of(b), &fb) && fa.id == fb.id;
}

// The program's own files, opened as they are, never through a link. A
// reparse point that is no link (deduplication, HSM, a cloud placeholder)
// holds its data behind its filter: that file is opened again through it,
// if the name still leads to it. A link stays open as it is, for describe()
// to refuse.
HANDLE open_own(const std::string& name, DWORD access, DWORD disposition) {
  const HANDLE h = open_named(name, access, disposition, FILE_FLAG_OPEN_REPARSE_POINT);
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (h == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      IsReparseTagNameSurrogate(tag.ReparseTag)) {
    return h;
  }
  const HANDLE through = open_named(name, access, OPEN_EXISTING, 0);
  const bool same = through != INVALID_HANDLE_VALUE && same_file(h, through);
  close_handle(h);
  if (same) return through;
  if (through != INVALID_HANDLE_VALUE) close_handle(through);
  SetLastError(ERROR_CANT_ACCESS_FILE);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool describe(os_file f, file_facts* facts) {
  const HANDLE h = handle_of(f);
  const DWORD type = GetFileType(h);
  if (type != FILE_TYPE_DISK) {
    // A device (NUL, CON, COM1) or a pipe: no size and no identity, written
    // and read as it comes, as on POSIX systems.
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return false;
    *facts = file_facts{};
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  facts->id = id_of(h, info);
  facts->id.stream = stream_key_of(h);
  // A link opened as itself shows by its tag; one opened through reaches a
  // file that is no link.
  const DWORD attributes = info.dwFileAttributes;
  facts->regular = win_regular(type, attributes, reparse_tag_of(h, attributes));
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
  HANDLE h = open_named(name, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  // A folder opens only with FILE_FLAG_BACKUP_SEMANTICS (CreateFileW); reading
  // it then fails, as it does on POSIX systems.
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    const DWORD attributes = GetFileAttributesW(wide_name(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      h = open_named(name, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    }
  }
  *f = file_of(h);
  return f->handle != -1;
}

bool open_for_writing(const std::string& name, open_mode mode, os_file* f) {
  const bool own = mode != open_mode::named_output;
  const DWORD disposition =
      mode == open_mode::new_working_file || mode == open_mode::new_private_file ? CREATE_NEW
                                                                                 : OPEN_ALWAYS;
  *f = file_of(own ? open_own(name, GENERIC_WRITE, disposition)
                   : open_named(name, GENERIC_WRITE, disposition, FILE_ATTRIBUTE_NORMAL));
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
  HANDLE h = open_named(name, DELETE, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  file_facts facts;
  // A POSIX delete frees the name at once, though other runs still hold the
  // file (NTFS, Windows 10 1709 and later: FILE_DISPOSITION_INFO_EX). Else
  // the name stays, delete pending and unopenable, until the last handle of
  // the file closes.
  DWORD posix = disposition_delete | disposition_posix_semantics;
  FILE_DISPOSITION_INFO pending = {TRUE};
  const bool removed =
      describe(file_of(h), &facts) && facts.id == id &&
      (SetFileInformationByHandle(h, file_disposition_info_ex, &posix, sizeof posix) ||
       SetFileInformationByHandle(h, FileDispositionInfo, &pending, sizeof pending));
  return close_handle(h) && removed;
}

bool name_leads_to(const std::string& name, const file_id& id, bool follow_links) {
  HANDLE h = open_named(name, 0, OPEN_EXISTING, follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  if (h == INVALID_HANDLE_VALUE) return false;
  file_facts facts;
  const bool same = describe(file_of(h), &facts) && facts.id == id;
  close_handle(h);
  return same;
}

bool make_private(os_file) {
  return true;  // the folder's permissions decide who reads it
}

bool close_file(os_file* f) {
  const bool closed = f->handle == -1 || close_handle(handle_of(*f));
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

std::string name_of(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return utf8_from_utf16(std::u16string(wide.begin(), wide.end()));
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
  *f = file_of(
      open_own(name, GENERIC_READ | GENERIC_WRITE | DELETE, create ? CREATE_NEW : OPEN_EXISTING));
  if (f->handle != -1) return own_open::opened;
  const DWORD error = GetLastError();
  const DWORD attributes =
      error == ERROR_ACCESS_DENIED ? GetFileAttributesW(wide_name(name).c_str()) : 0;
  return win_open_failure(error, attributes,
                          attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0);
}

void wait_for_name() {
  Sleep(1);
}

keep_out keep_others_out(owned_file* f, const std::string& name) {
  // Others may go on reading it, not write or delete it. A handle open for
  // writing anywhere, this run's own first one too, fails the open: that one
  // goes first, and the caller checks that the name still leads to its file.
  f->close();
  HANDLE h = open_named(name, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ);
  keep_out kept = keep_out::held;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
    // Open as before, so that the run can still tell what changed.
    h = open_named(name, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    kept = keep_out::in_use;
  }
  if (h == INVALID_HANDLE_VALUE) return keep_out::failed;
  f->reset(file_of(h));
  lock_exclusive(f->get());
  return kept;
}

bool others_came() {
  return false;  // the share mode refuses them instead
}

bool rename_new(const std::string& from, const std::string& to) {
  return MoveFileExW(wide_name(from).c_str(), wide_name(to).c_str(), MOVEFILE_WRITE_THROUGH);
}

bool identify(const std::string& name, file_id* id) {
  const HANDLE h = open_named(name, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (h == INVALID_HANDLE_VALUE) return false;
  file_facts facts;
  const bool known = describe(file_of(h), &facts);
  close_handle(h);
  *id = facts.id;
  return known;
}

bool file_survives_power_cut(os_file) {
  return true;
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

bool is_own_name(const std::string& name, const char* own) {
  return win_own_name(name, own);
}

bool asks_for_usage(const char* arg) {
  return std::string_view(arg) == "/?";
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
