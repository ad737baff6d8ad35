#include <windows.h>

#include "trim/platform.h"

int64_t stream_size(std::FILE* f) {
  if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(_ftelli64(f));
}

bool copy_in_kernel(std::FILE*, std::FILE*) {
  return false;
}

bool names_fifo(const char*) {
  return false;
}

std::filesystem::path file_path(const std::string& name) {
  // The code page fopen converts with: UTF-8 under the program's manifest.
  const int size = static_cast<int>(name.size());
  const int wide_size = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  if (wide_size <= 0) return {};
  std::wstring wide(static_cast<size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), wide_size);
  return std::filesystem::path(wide);
}

bool same_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void use_copy_buffer(std::FILE* f) {
  // The C runtime's 4 KiB default costs a system call per few chunks.
  std::setvbuf(f, nullptr, _IOFBF, size_t{1} << 16);
}
