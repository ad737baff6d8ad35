#include "fake_win_platform.h"

#include <utility>

#include "trim/win_rules.h"

fake_folder fake;

namespace {

fake_file& file_of(os_file f) {
  return fake.files[static_cast<size_t>(f.handle >> 16) - 1];
}

os_file open_handle(size_t k) {
  static intptr_t count = 0;
  ++fake.files[k].handles;
  return {static_cast<intptr_t>(k + 1) << 16 | ++count};
}

// CreateFileW on a file whose deletion is pending fails with
// ERROR_ACCESS_DENIED, GetFileAttributesW's open of it too (DeleteFileW).
bool pending() {
  return fake.named >= 0 && fake.files[static_cast<size_t>(fake.named)].delete_pending;
}

}  // namespace

own_open open_staging_file(const char*, bool create, os_file* f) {
  if (pending()) {
    return win_open_failure(win_error_access_denied, win_invalid_attributes,
                            win_error_access_denied);
  }
  if (fake.named >= 0 && create) return win_open_failure(win_error_file_exists, 0, 0);
  if (fake.named < 0 && !create) return win_open_failure(win_error_file_not_found, 0, 0);
  if (fake.named < 0) {
    fake.files.push_back({{1, fake.files.size() + 1}});
    fake.named = static_cast<int>(fake.files.size()) - 1;
  }
  *f = open_handle(static_cast<size_t>(fake.named));
  return own_open::opened;
}

bool close_file(os_file* f) {
  if (f->handle == -1) return true;
  fake_file& file = file_of(*f);
  // A file marked for deletion goes, and frees its name, when its last
  // handle closes (FILE_DISPOSITION_INFO).
  if (--file.handles == 0 && file.delete_pending &&
      fake.named == static_cast<int>(file.id.index) - 1) {
    fake.named = -1;
  }
  f->handle = -1;
  return true;
}

bool describe(os_file f, file_facts* facts) {
  facts->id = file_of(f).id;
  facts->regular = true;
  return true;
}

bool lock_exclusive(os_file) {
  if (fake.on_lock) std::exchange(fake.on_lock, nullptr)();
  return true;
}

bool name_leads_to(const std::string&, const file_id& id, bool) {
  return !pending() && fake.named >= 0 && fake.files[static_cast<size_t>(fake.named)].id == id;
}

bool remove_name(const std::string&, const file_id& id) {
  if (fake.named < 0) return true;
  if (pending() || !name_leads_to("", id, false)) return false;
  // A POSIX delete takes the name away at once, while others still hold the
  // file (FILE_DISPOSITION_INFO_EX).
  fake.files[static_cast<size_t>(fake.named)].delete_pending = true;
  if (fake.posix_delete || fake.files[static_cast<size_t>(fake.named)].handles == 0) {
    fake.named = -1;
  }
  return true;
}

bool make_private(os_file) {
  return true;
}

void wait_for_name() {
  ++fake.waits;
}
