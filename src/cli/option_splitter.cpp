#include "cli/option_splitter.h"

#include <string_view>

void opt_split(opt_parts* parts, const char* arg) {
  const std::string_view whole(arg);
  // npos + 1 is 0: an argument of digits alone is all digits.
  const size_t digits_at = whole.find_last_not_of("0123456789") + 1;
  parts->prefix.assign(whole.substr(0, digits_at));
  parts->digits.assign(whole.substr(digits_at));
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
