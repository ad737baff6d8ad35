#include "cli/option_splitter.h"

#include <cstring>

void opt_split(opt_parts* parts, const char* arg) {
  parts->whole = arg;
  const size_t length = parts->whole.size();
  size_t digit_count = 0;
  while (digit_count < length) {
    const char c = parts->whole[length - 1 - digit_count];
    if (c < '0' || c > '9') break;
    ++digit_count;
  }
  // Arguments longer than 2 GiB cannot reach a command line.
  parts->length = static_cast<int32_t>(length);
  parts->digit_count = static_cast<int32_t>(digit_count);
  parts->prefix_length = parts->length - parts->digit_count;
  parts->prefix.assign(parts->whole, 0, length - digit_count);
  parts->digits.assign(parts->whole, length - digit_count, digit_count);
}

int32_t opt_number(const opt_parts* parts) {
  constexpr int64_t limit = INT32_MAX;
  int64_t value = 0;
  for (const char c : parts->digits) {
    value = value * 10 + (c - '0');
    if (value > limit) return INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

const std::string& opt_prefix(const opt_parts* parts) {
  return parts->prefix;
}
