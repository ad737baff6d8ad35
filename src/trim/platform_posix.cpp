#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sched.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "trim/cpu_quota.h"
#include "trim/platform.h"

namespace {

int fd_of(os_file f) {
  return static_cast<int>(f.handle);
}

file_id id_of(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), 0};
}

// The program's own files: never through a link, and a FIFO or a device
// planted in their place must not stall the run. A new file is neither, and
// needs no second call that could fail once it exists.
int open_own(const char* name, int flags, mode_t mode) {
  if (flags & O_EXCL) return open(name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
  const int fd = open(name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd >= 0 && fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool describe(os_file f, file_facts* facts) {
  struct stat st;
  if (fstat(fd_of(f), &st) != 0) return false;
  facts->id = id_of(st);
  facts->regular = S_ISREG(st.st_mode);
  facts->size = facts->regular ? static_cast<int64_t>(st.st_size) : 0;
  facts->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  facts->links = static_cast<uint32_t>(st.st_nlink);
  facts->owned = st.st_uid == geteuid();
  return true;
}

bool guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;  // it fails only with EBADF
    // The lowest free descriptor is the one that is missing.
    const int null = open("/dev/null", O_RDWR);
    if (null != fd) {
      if (null >= 0) close(null);
      return false;
    }
  }
  return true;
}

bool open_for_reading(const std::string& name, os_file* f) {
  f->handle = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return f->handle >= 0;
}

bool open_for_writing(const std::string& name, open_mode mode, os_file* f) {
  const bool is_new = mode == open_mode::new_working_file || mode == open_mode::new_private_file;
  const int flags = O_WRONLY | O_CREAT | (is_new ? O_EXCL : 0);
  f->handle =
      mode == open_mode::named_output
          ? open(name.c_str(), flags | O_CLOEXEC, 0666)
          : open_own(name.c_str(), flags, mode == open_mode::new_private_file ? 0600 : 0666);
  return f->handle >= 0;
}

int64_t read_some(os_file f, void* buf, size_t n) {
  for (;;) {
    const ssize_t got = read(fd_of(f), buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

int64_t write_some(os_file f, const void* buf, size_t n) {
  for (;;) {
    const ssize_t put = write(fd_of(f), buf, n);
    if (put > 0) return put;
    if (put == 0 || errno != EINTR) return -1;
  }
}

bool truncate_to_empty(os_file f) {
  return ftruncate(fd_of(f), 0) == 0;
}

bool rewind_file(os_file f) {
  return lseek(fd_of(f), 0, SEEK_SET) == 0;
}

bool sync_file(os_file f) {
#ifdef __linux__
  return fdatasync(fd_of(f)) == 0;
#else
  return fsync(fd_of(f)) == 0;
#endif
}

bool sync_directory(const std::string& dir) {
  const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

#ifdef __linux__
namespace {

bool on_disk(const struct statfs& fs) {
  return fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC;
}

}  // namespace

bool survives_power_cut(const std::string& dir) {
  struct statfs fs;
  return statfs(dir.empty() ? "." : dir.c_str(), &fs) != 0 || on_disk(fs);
}

bool file_survives_power_cut(os_file f) {
  struct statfs fs;
  return fstatfs(fd_of(f), &fs) != 0 || on_disk(fs);
}
#else
bool survives_power_cut(const std::string&) {
  return true;
}

bool file_survives_power_cut(os_file) {
  return true;
}
#endif

bool lock_exclusive(os_file f) {
  int locked;
  do {
    locked = flock(fd_of(f), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked == 0) return true;
  // Some network file systems know only record locks. They belong to the
  // process and end when any of its descriptors of the file is closed: the
  // run keeps one open while it needs the lock.
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  do {
    locked = fcntl(fd_of(f), F_SETLKW, &whole);
  } while (locked != 0 && errno == EINTR);
  return locked == 0;
}

bool add_name(const std::string& existing, const std::string& name) {
  return link(existing.c_str(), name.c_str()) == 0;
}

bool name_leads_to(const std::string& name, const file_id& id, bool follow_links) {
  struct stat named;
  return fstatat(AT_FDCWD, name.c_str(), &named, follow_links ? 0 : AT_SYMLINK_NOFOLLOW) == 0 &&
         id_of(named) == id;
}

bool make_private(os_file f) {
  return fchmod(fd_of(f), 0600) == 0;
}

bool remove_name(const std::string& name, const file_id& id) {
  struct stat named;
  if (fstatat(AT_FDCWD, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  return id_of(named) == id && unlink(name.c_str()) == 0;
}

bool close_file(os_file* f) {
  const bool closed = f->handle < 0 || close(fd_of(*f)) == 0;
  f->handle = -1;
  return closed;
}

bool copy_in_kernel(os_file from, os_file to) {
#ifdef __linux__
  for (;;) {
    const ssize_t n = copy_file_range(fd_of(from), nullptr, fd_of(to), nullptr, size_t{1} << 30, 0);
    if (n == 0) return true;
    // Unsupported pairs (a device, another file system) and real errors alike
    // go on in the plain loop, which reports them on the right file.
    if (n < 0) return false;
  }
#else
  (void)from;
  (void)to;
  return false;
#endif
}

std::filesystem::path file_path(const std::string& name) {
  return std::filesystem::path(name);
}

std::string name_of(const std::filesystem::path& path) {
  return path.native();
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a == b;
}

size_t name_start(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

own_open open_staging_file(const char* name, bool create, os_file* f) {
  f->handle = open_own(name, O_RDWR | (create ? O_CREAT | O_EXCL : 0), 0600);
  if (f->handle >= 0) return own_open::opened;
  if (errno == EEXIST) return own_open::exists;
  return errno == ENOENT ? own_open::missing : own_open::failed;
}

void wait_for_name() {
  // A removed name is free at once here.
}

void write_message(const std::string& utf8) {
  std::fputs(utf8.c_str(), stderr);
}

namespace {

volatile sig_atomic_t lease_broken = 0;

void note_lease_break(int) {
  lease_broken = 1;
}

}  // namespace

keep_out keep_others_out(owned_file* f, const std::string&) {
#ifdef __linux__
  // The break comes as SIGIO, which would otherwise end the run half-way.
  struct sigaction on_break = {};
  on_break.sa_handler = note_lease_break;
  on_break.sa_flags = SA_RESTART;
  sigemptyset(&on_break.sa_mask);
  if (sigaction(SIGIO, &on_break, nullptr) != 0) return keep_out::unavailable;
  if (fcntl(fd_of(f->get()), F_SETLEASE, F_WRLCK) == 0) return keep_out::held;
  // Not the file's owner, or a file system without leases: the checks alone.
  return errno == EAGAIN ? keep_out::in_use : keep_out::unavailable;
#else
  (void)f;
  (void)note_lease_break;
  return keep_out::unavailable;
#endif
}

bool others_came() {
  return lease_broken != 0;
}

bool rename_new(const std::string& from, const std::string& to) {
#ifdef __linux__
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A second name, then the first one goes: never over a file that is there.
  // Once the new name is made the file has it, whatever becomes of the old.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

bool identify(const std::string& name, file_id* id) {
  struct stat named;
  if (fstatat(AT_FDCWD, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
  *id = id_of(named);
  return true;
}

bool is_own_name(const std::string& name, const char* own) {
  return name == own;
}

bool asks_for_usage(const char*) {
  return false;  // "/?" is a file name here
}

#ifdef __linux__
namespace {

// A small file of the kernel's, whole; "" when it cannot be read.
std::string kernel_file(const std::string& name) {
  std::string text;
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[4096];
  for (ssize_t got; text.size() < 65536 && (got = read(fd, buf, sizeof buf)) > 0;) {
    text.append(buf, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

}  // namespace
#endif

int usable_cpus() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int cpus = CPU_COUNT(&set);
    return cpus < 2 ? 1
                    : std::min(cpus, cgroup_cpus(kernel_file("/proc/self/cgroup"), kernel_file));
  }
#endif
  return static_cast<int>(std::clamp<long>(sysconf(_SC_NPROCESSORS_ONLN), 1, INT_MAX));
}
