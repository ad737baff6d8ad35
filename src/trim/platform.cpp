// What the platform files share, written once over their primitives.
#include "trim/platform.h"

bool write_all(os_file f, const void* buf, size_t n) {
  const char* at = static_cast<const char*>(buf);
  while (n > 0) {
    const int64_t put = write_some(f, at, n);
    if (put <= 0) return false;
    at += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}
