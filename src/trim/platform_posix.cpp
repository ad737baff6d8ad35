#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <cerrno>

#include "trim/platform.h"

namespace {

int fd_of(os_file f) {
  return static_cast<int>(f.handle);
}

file_id id_of(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The program's own files: never through a link, and a FIFO or a device
// planted in their place must not stall the run.
int open_own(const char* name, int flags, mode_t mode) {
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
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
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

bool write_all(os_file f, const void* buf, size_t n) {
  const char* at = static_cast<const char*>(buf);
  while (n > 0) {
    const ssize_t put = write(fd_of(f), at, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    n -= static_cast<size_t>(put);
  }
  return true;
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

bool survives_power_cut(const std::string& dir) {
#ifdef __linux__
  struct statfs fs;
  if (statfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) return true;
  return fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC;
#else
  (void)dir;
  return true;
#endif
}

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

bool names_file(const std::string& name, const file_id& id) {
  struct stat named;
  return stat(name.c_str(), &named) == 0 && id_of(named) == id;
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

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a == b;
}

size_t name_start(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

staging_status lock_staging(const char* name, staging_lock* lock) {
  for (;;) {
    // Made here, or found: a run that fails before writing removes only the
    // one it made.
    bool created = true;
    int fd = open_own(name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = open_own(name, O_RDWR, 0);
      if (fd < 0 && errno == ENOENT) continue;
    }
    if (fd < 0) return staging_status::unusable;
    os_file file{fd};
    file_facts facts;
    if (!describe(file, &facts) || !facts.regular || !facts.owned) {
      close(fd);
      return staging_status::unusable;
    }
    const bool locked = lock_exclusive(file);
    // The run we waited for may have removed the file (or just had, when it
    // was opened): a lock on a file that no longer has the name holds nothing.
    struct stat named;
    if (fstatat(AT_FDCWD, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || id_of(named) != facts.id) {
      close(fd);
      continue;
    }
    if (!describe(file, &facts)) {
      close(fd);
      return staging_status::unusable;
    }
    // A result kept by an older version may be readable by others: fchmod,
    // once no other name shares the file.
    if (facts.links == 1 && fchmod(fd, 0600) != 0) {
      close(fd);
      return staging_status::unusable;
    }
    if (facts.links == 1) {
      *lock = {file, facts.id, created};
      return locked ? staging_status::held : staging_status::held_without_lock;
    }
    // Writing it would change what the other name holds: the name goes.
    const bool set_aside = remove_name(name, facts.id);
    close(fd);
    if (!set_aside) return staging_status::unusable;
  }
}

bool unlock_staging(staging_lock* lock) {
  return close_file(&lock->file);
}
