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

std::string utf8_from_utf16(std::u16string_view utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t c = utf16[i];
    // A pair is one code point; a lone half is written as if it were one.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00u);
    }
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    constexpr unsigned char lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[extra] | (c >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  }
  return out;
}

std::u16string utf16_from_utf8(std::string_view utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(utf8[at]); };
    const unsigned char b = byte(i);
    const size_t len = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    uint32_t c = len == 1 ? b : b & (0x7F >> len);
    size_t k = 1;
    for (; k < len && i + k < utf8.size() && (byte(i + k) & 0xC0) == 0x80; ++k) {
      c = c << 6 | (byte(i + k) & 0x3F);
    }
    i += k;
    // A cut-off sequence, an overlong form or a value past U+10FFFF.
    constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (len == 0 || k < len || c < least[len] || c > 0x10FFFF) {
      out += u'\uFFFD';
    } else if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}
