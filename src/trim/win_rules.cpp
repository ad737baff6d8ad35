#include "trim/win_rules.h"

namespace {

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

// "name:stream:type" ("File Streams", MS-FSCC 5.1): the default stream is
// "name" or "name::$DATA", and "name:s" is "name:s:$DATA".
std::string_view stream_of(std::string_view name) {
  std::string_view last = name.substr(name.find_last_of("/\\") + 1);
  // "C:name" is a drive's current folder, not a stream.
  if (last.size() == name.size() && last.size() >= 2 && last[1] == ':' && upper(last[0]) >= 'A' &&
      upper(last[0]) <= 'Z') {
    last.remove_prefix(2);
  }
  const size_t colon = last.find(':');
  if (colon == std::string_view::npos) return {};
  std::string_view stream = last.substr(colon + 1);
  const size_t type = stream.find(':');
  if (type != std::string_view::npos && equal_ignoring_case(stream.substr(type), ":$DATA")) {
    stream = stream.substr(0, type);
  }
  return stream;
}

}  // namespace

bool win_regular(uint32_t file_type, uint32_t attributes, uint32_t reparse_tag) {
  const bool surrogate = (attributes & win_attribute_reparse_point) != 0 &&
                         (reparse_tag & win_name_surrogate_bit) != 0;
  return file_type == win_file_type_disk && (attributes & win_attribute_directory) == 0 &&
         !surrogate;
}

own_open win_open_failure(uint32_t open_error, uint32_t attributes, uint32_t attributes_error) {
  if (open_error == win_error_file_exists) return own_open::exists;
  if (open_error == win_error_file_not_found) return own_open::missing;
  // A file marked for deletion keeps its name until its last handle closes,
  // and every open of it, GetFileAttributesW's too, fails with
  // ERROR_ACCESS_DENIED (DeleteFileW). A missing file in a folder the user
  // cannot write is not found there; another user's file has attributes.
  const bool delete_pending =
      open_error == win_error_delete_pending ||
      (open_error == win_error_access_denied && attributes == win_invalid_attributes &&
       attributes_error == win_error_access_denied);
  return delete_pending ? own_open::busy : own_open::failed;
}

uint64_t win_stream_key(std::string_view name) {
  const std::string_view stream = stream_of(name);
  if (stream.empty()) return 0;
  // Stream names ignore case as file names do. FNV-1a, never 0.
  uint64_t key = 14695981039346656037u;
  for (const char c : stream) key = (key ^ static_cast<unsigned char>(upper(c))) * 1099511628211u;
  return key | 1;
}

bool win_own_name(std::string_view name, std::string_view own) {
  if (stream_of(name).empty() && name.find(':') != std::string_view::npos) {
    name = name.substr(0, name.find(':'));  // "draft.txt::$DATA"
  }
  // Win32 drops trailing dots and spaces from a name ("Naming Files, Paths,
  // and Namespaces").
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return equal_ignoring_case(name, own);
}
