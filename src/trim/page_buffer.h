// Buffers for file data start on a page boundary: the kernel copies between
// such a buffer and the page cache measurably faster than from one that
// starts elsewhere.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

inline constexpr size_t page_size = 4096;

struct page_release {
  void operator()(unsigned char* p) const { ::operator delete[](p, std::align_val_t{page_size}); }
};
using page_buffer = std::unique_ptr<unsigned char[], page_release>;

// Empty when the memory cannot be had (or none is asked for).
inline page_buffer allocate_pages(size_t n) {
  if (n == 0) return page_buffer();
  return page_buffer(
      static_cast<unsigned char*>(::operator new[](n, std::align_val_t{page_size}, std::nothrow)));
}

inline constexpr size_t round_to_pages(size_t n) {
  return (n + page_size - 1) / page_size * page_size;
}
