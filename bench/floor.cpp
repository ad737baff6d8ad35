// floor IN OUT: the file work of a tavlen run and nothing more. IN is read in
// 1 MiB blocks, each written to binary.tmp in the current directory, which is
// copied to OUT in the kernel and removed. No trimming: no program that stages
// its result this way can be faster, so compare.sh divides tavlen's time by it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* const staging = "binary.tmp";

// Page-aligned, as tavlen's buffers are: the kernel copies to and from the
// page cache about a quarter slower from a buffer that starts mid-page.
alignas(4096) unsigned char block[size_t{1} << 20];

int fail(const char* call, const char* name) {
  std::fprintf(stderr, "floor: %s() error: %s: %s\n", call, name, std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor IN OUT\n");
    return 2;
  }
  const char* const in_name = argv[1];
  const char* const out_name = argv[2];
  const int in = open(in_name, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("open", in_name);
  // Made as tavlen makes it: truncating, even an empty file, makes ext4 write
  // it out on close, so only a file left with bytes in it is truncated.
  const int tmp = open(staging, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (tmp < 0) return fail("open", staging);
  struct stat st;
  if (fstat(tmp, &st) != 0) return fail("fstat", staging);
  if (st.st_size > 0 && ftruncate(tmp, 0) != 0) return fail("ftruncate", staging);

  for (;;) {
    const ssize_t got = read(in, block, sizeof block);
    if (got < 0) return fail("read", in_name);
    if (got == 0) break;
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = write(tmp, block + put, got - put);
      if (n < 0) return fail("write", staging);
      put += n;
    }
  }
  if (close(in) != 0) return fail("close", in_name);

  const int out = open(out_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return fail("open", out_name);
  off_t from = 0;
  for (;;) {
    const ssize_t n = copy_file_range(tmp, &from, out, nullptr, size_t{1} << 30, 0);
    if (n < 0) return fail("copy_file_range", out_name);
    if (n == 0) break;
  }
  if (close(out) != 0) return fail("close", out_name);
  if (close(tmp) != 0) return fail("close", staging);
  if (unlink(staging) != 0) return fail("unlink", staging);
  return 0;
}
