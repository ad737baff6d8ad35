#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "trim/platform.h"

int64_t stream_size(std::FILE* f) {
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(ftello(f));
}

bool copy_in_kernel(std::FILE* from, std::FILE* to) {
#ifdef __linux__
  // Nothing is buffered yet: both streams were just opened.
  const int in = fileno(from);
  const int out = fileno(to);
  for (;;) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
    if (n == 0) return true;
    // Unsupported pairs (a device, another file system) and real errors alike
    // go on in stdio, which reports them where they happen.
    if (n < 0) return false;
  }
#else
  (void)from;
  (void)to;
  return false;
#endif
}

bool names_fifo(const char* name) {
  struct stat st;
  return stat(name, &st) == 0 && S_ISFIFO(st.st_mode);
}

std::filesystem::path file_path(const std::string& name) {
  return std::filesystem::path(name);
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a == b;
}

staging_lock lock_staging(const char* name) {
  for (;;) {
    const int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return {};
    int locked;
    do {
      locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      close(fd);
      return {};
    }
    // The run we waited for may have removed the file: a lock on a file that
    // no longer has the name holds nothing.
    struct stat held, named;
    if (fstat(fd, &held) == 0 && stat(name, &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return {fd};
    }
    close(fd);
  }
}

void unlock_staging(staging_lock* lock) {
  if (lock->handle >= 0) close(static_cast<int>(lock->handle));
  lock->handle = -1;
}

void use_copy_buffer(std::FILE*) {}
