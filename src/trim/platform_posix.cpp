#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
  facts->links = static_cast<uint32_t>(st.st_nlink);
  facts->owned = st.st_uid == geteuid();
  return true;
}

bool open_for_reading(const std::string& name, os_file* f) {
  f->handle = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return f->handle >= 0;
}

bool open_for_writing(const std::string& name, open_mode mode, os_file* f) {
  const int flags = O_WRONLY | O_CREAT | (mode == open_mode::new_working_file ? O_EXCL : 0);
  f->handle = mode == open_mode::named_output ? open(name.c_str(), flags | O_CLOEXEC, 0666)
                                              : open_own(name.c_str(), flags, 0666);
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

bool sync_current_directory() {
  const int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = fsync(dir) == 0;
  return close(dir) == 0 && synced;
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

staging_status lock_staging(const char* name, staging_lock* lock) {
  for (;;) {
    const int fd = open_own(name, O_RDWR | O_CREAT, 0600);
    if (fd < 0) return staging_status::unusable;
    os_file file{fd};
    file_facts facts;
    // A result kept by an older version may be readable by others: fchmod.
    if (!describe(file, &facts) || !single_plain_file(facts) || !facts.owned ||
        fchmod(fd, 0600) != 0) {
      close(fd);
      return staging_status::unusable;
    }
    int locked;
    do {
      locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    // Without locks (ENOLCK, EOPNOTSUPP) the run goes on as it would alone.
    // The run we waited for may have removed the file: a lock on a file that
    // no longer has the name holds nothing.
    struct stat named;
    if (locked != 0 ||
        (fstatat(AT_FDCWD, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && id_of(named) == facts.id)) {
      *lock = {file, facts.id};
      return staging_status::held;
    }
    close(fd);
  }
}

void remove_staging(const char* name, const staging_lock& lock) {
  struct stat named;
  if (fstatat(AT_FDCWD, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && id_of(named) == lock.id) {
    unlink(name);
  }
}

bool unlock_staging(staging_lock* lock) {
  return close_file(&lock->file);
}
