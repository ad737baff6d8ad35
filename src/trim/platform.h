// The file operations that differ between Windows and POSIX systems. Files
// are reached through the system's own handles, so that every check is made
// on what was opened, never on how its name is spelled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// A descriptor, or a Windows handle; -1 when nothing is open.
struct os_file {
  intptr_t handle = -1;
};

// Which file an open handle reaches: device and inode, or volume serial number
// and file index.
struct file_id {
  uint64_t volume = 0;
  uint64_t index = 0;
  friend bool operator==(const file_id&, const file_id&) = default;
};

struct file_facts {
  file_id id;
  bool regular = false;  // a plain file on disk: it has a size and can be truncated
  int64_t size = 0;      // as the system reports it; 0 for anything not regular
  uint32_t links = 1;
  bool owned = true;  // by the user running the program
};

bool describe(os_file f, file_facts* facts);

// A plain file that no other name reaches: writing it changes nothing else.
inline bool single_plain_file(const file_facts& facts) {
  return facts.regular && facts.links == 1;
}

bool open_for_reading(const std::string& name, os_file* f);

// Opens, or creates, a file to be written, without truncating it: that waits
// until the caller knows which file it holds. A name the user gave may lead
// through links; the program's own working files never do, and a new one
// must not exist yet.
enum class open_mode { named_output, working_file, new_working_file };
bool open_for_writing(const std::string& name, open_mode mode, os_file* f);

// Bytes read, 0 at the end, -1 on failure.
int64_t read_some(os_file f, void* buf, size_t n);
bool write_all(os_file f, const void* buf, size_t n);
bool truncate_to_empty(os_file f);
bool rewind_file(os_file f);
// The file's bytes on disk.
bool sync_file(os_file f);
// The current directory's entries on disk (a new or renamed file's name).
bool sync_current_directory();
// False when closing reports that earlier writes were lost.
bool close_file(os_file* f);

// Copies the rest of `from` to `to`, inside the kernel where the platform can.
// Returns true when `from` reached its end; false leaves both files at the
// positions reached so far, for a plain loop to go on from.
bool copy_in_kernel(os_file from, os_file to);

// A name as the system's file functions read it. Windows takes narrow names
// in the process code page, which std::filesystem does not assume there.
std::filesystem::path file_path(const std::string& name);

// True when two absolute, normalized paths are spelled alike for the file
// system: Windows ignores letter case.
bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

// The staging file, held open and exclusively while this run uses it; the
// system drops the hold when the process ends, however it ends.
struct staging_lock {
  os_file file;
  file_id id;
};

enum class staging_status { held, unusable };

// Opens the staging file `name`, creating it readable by its owner only,
// without following a link, and waits until no other run holds it. It is
// refused (unusable) unless it is a regular file with one name, owned by the
// user. Where the file system has no locks it is used without waiting.
staging_status lock_staging(const char* name, staging_lock* lock);
// Removes the staging file's name, if it still names the file held.
void remove_staging(const char* name, const staging_lock& lock);
// False when closing reports that earlier writes were lost.
bool unlock_staging(staging_lock* lock);
