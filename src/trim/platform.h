// The file operations that differ between Windows and POSIX systems. Files
// are reached through the system's own handles, so that every check is made
// on what was opened, never on how its name is spelled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// A descriptor, or a Windows handle; -1 when nothing is open.
struct os_file {
  intptr_t handle = -1;
};

// False when closing reports that earlier writes were lost.
bool close_file(os_file* f);

// An open file that closes itself; close() is for when the result matters.
class owned_file {
 public:
  owned_file() = default;
  explicit owned_file(os_file f) : file_(f) {}
  owned_file(const owned_file&) = delete;
  owned_file& operator=(const owned_file&) = delete;
  ~owned_file() { close_file(&file_); }
  os_file get() const { return file_; }
  // Takes over `f`, closing what was held before.
  void reset(os_file f) {
    close_file(&file_);
    file_ = f;
  }
  bool close() { return close_file(&file_); }

 private:
  os_file file_;
};

// Which file an open handle reaches: device and inode, or volume serial number
// and file id (128 bits on Windows, of which `index` holds the low half), and
// on Windows which of its data streams.
struct file_id {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t index_high = 0;
  uint64_t stream = 0;
  friend bool operator==(const file_id&, const file_id&) = default;
};

struct file_facts {
  file_id id;
  bool regular = false;  // a plain file on disk: it has a size and can be truncated
  int64_t size = 0;      // as the system reports it; 0 for anything not regular
  int64_t modified = 0;  // last write, in the system's own units
  uint32_t links = 1;
  bool owned = true;  // by the user running the program
};

// The same contents as far as the system tells: another process that wrote
// to the file changed its size or its time.
inline bool same_version(const file_facts& a, const file_facts& b) {
  return a.id == b.id && a.size == b.size && a.modified == b.modified;
}

bool describe(os_file f, file_facts* facts);

// A plain file of the user's that no other name reaches: writing it changes
// nothing else, and nobody else reads what is written.
inline bool own_plain_file(const file_facts& facts) {
  return facts.regular && facts.links == 1 && facts.owned;
}

// Standard input, output and error that are closed at start are opened on the
// null device, so that no file the run opens takes their place and receives
// its messages. False when that cannot be done.
bool guard_standard_streams();

bool open_for_reading(const std::string& name, os_file* f);

// Opens, or creates, a file to be written, without truncating it: that waits
// until the caller knows which file it holds. A name the user gave may lead
// through links; the program's own working files never do, and a new one
// must not exist yet. A private one is its owner's only, as binary.tmp is.
enum class open_mode { named_output, working_file, new_working_file, new_private_file };
bool open_for_writing(const std::string& name, open_mode mode, os_file* f);

// Bytes read, 0 at the end, -1 on failure.
int64_t read_some(os_file f, void* buf, size_t n);
// Bytes written, at least one, or -1 on failure.
int64_t write_some(os_file f, const void* buf, size_t n);
bool write_all(os_file f, const void* buf, size_t n);
bool truncate_to_empty(os_file f);
bool rewind_file(os_file f);
// The file's bytes on disk.
bool sync_file(os_file f);
// A directory's entries on disk (a new file's name); "" is the current one.
bool sync_directory(const std::string& dir);
// False where a power cut empties the directory's file system (RAM).
bool survives_power_cut(const std::string& dir);
// Holds a file exclusively, waiting for any other holder, until it is closed.
// False where the file system has no locks.
bool lock_exclusive(os_file f);
// Gives the file `existing` the second name `name`, which must be new.
bool add_name(const std::string& existing, const std::string& name);
// Removes `name` if it still names the file `id`; true when it is gone.
bool remove_name(const std::string& name, const file_id& id);
// True when `name` still leads to the file `id`; a symbolic link at the name
// itself is followed only when asked to.
bool name_leads_to(const std::string& name, const file_id& id, bool follow_links);
// Readable and writable by its owner only, where the system has owners.
bool make_private(os_file f);

// Copies the rest of `from` to `to`, inside the kernel where the platform can.
// Returns true when `from` reached its end; false leaves both files at the
// positions reached so far, for a plain loop to go on from.
bool copy_in_kernel(os_file from, os_file to);

// A name as the system's file functions read it: on Windows, the UTF-16 of
// the UTF-8 the program holds, whatever the code page.
std::filesystem::path file_path(const std::string& name);
// And back: the UTF-8 name of a path the system gave.
std::string name_of(const std::filesystem::path& path);

// UTF-16 to UTF-8 and back without loss: a lone surrogate, which a Windows
// name may hold, becomes three bytes of its own (WTF-8) and comes back as it
// was. Bytes that are not such UTF-8 come back as U+FFFD.
std::string utf8_from_utf16(std::u16string_view utf16);
std::u16string utf16_from_utf8(std::string_view utf8);

// Writes a message to standard error, as it is; a Windows console gets it as
// UTF-16, which it shows whatever its code page.
void write_message(const std::string& utf8);

// True when two absolute, normalized paths are spelled alike for the file
// system: Windows ignores letter case.
bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

// Where the last component of a name starts: after its last separator.
size_t name_start(const std::string& name);

// The program's own staging file, opened for reading and writing without
// following a link: new (and its owner's only), or the one that exists.
enum class own_open { opened, exists, missing, busy, failed };
own_open open_staging_file(const char* name, bool create, os_file* f);
// The pause before trying again a name that is busy: removed, but still open
// in another run (Windows).
void wait_for_name();

// Replacing a file in place.
// Keeps other programs from opening the file `f` holds, named `name`, while
// it is replaced: a write lease on Linux, which any other open breaks (it then
// waits for this run, and others_came() tells); on Windows the file opened
// anew, and locked again, with a share mode that lets others read it only.
// `in_use`: another program has it open (for writing, on Windows);
// `unavailable`: the system gives no such hold here, and `f` is as it was;
// `failed`: `f` was let go.
enum class keep_out { held, in_use, unavailable, failed };
keep_out keep_others_out(owned_file* f, const std::string& name);
// True once another program came for a file held by keep_others_out.
bool others_came();
// Gives `from` the name `to`, which must be new; false leaves both as they were.
bool rename_new(const std::string& from, const std::string& to);
// The file the name itself is (a link at the name is not followed).
bool identify(const std::string& name, file_id* id);
// False where a power cut empties the open file's file system (RAM).
bool file_survives_power_cut(os_file f);

// True when `name` is the program's own file `own` (draft.txt) by its
// spelling: on Windows in any letter case.
bool is_own_name(const std::string& name, const char* own);
// True when the argument asks for the usage screen as -V does: "/?" on
// Windows, where no file name holds a '?'.
bool asks_for_usage(const char* arg);

// The CPUs this process may run on at once, as the system says: those it may
// be scheduled on, fewer where a CPU time limit is set (a Linux cgroup's
// quota, a Windows job's hard cap). At least 1.
int usable_cpus();
