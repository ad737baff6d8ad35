// Windows as its documentation describes it, where Wine differs: the rules
// platform_win32.cpp applies, against documented cases, and the staging
// file's take loop in a fake folder, whose primitives below are linked in
// place of a platform file.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "trim/staging_file.h"
#include "trim/win_rules.h"

namespace {

// The files binary.tmp has named (file k has id {1, k + 1}, and handles are
// k), the handles open on each, and the one the name leads to now.
struct {
  std::vector<int> handles;
  std::vector<bool> pending;  // marked for deletion
  int named = -1;
  bool posix_delete = false;      // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS taken
  std::function<void()> on_lock;  // what the run holding the lock does, once
  int waits = 0;
} fake;

bool name_pending() {
  return fake.named >= 0 && fake.pending[fake.named];
}

}  // namespace

own_open open_staging_file(const char*, bool create, os_file* f) {
  // CreateFileW of a file marked for deletion fails with ERROR_ACCESS_DENIED,
  // and GetFileAttributesW's open of it too (DeleteFileW).
  if (name_pending()) return win_open_failure(5, win_invalid_attributes, 5);
  if (fake.named >= 0 && create) return win_open_failure(win_error_file_exists, 0, 0);
  if (fake.named < 0 && !create) return win_open_failure(win_error_file_not_found, 0, 0);
  if (fake.named < 0) {
    fake.named = static_cast<int>(fake.handles.size());
    fake.handles.push_back(0);
    fake.pending.push_back(false);
  }
  ++fake.handles[fake.named];
  f->handle = fake.named;
  return own_open::opened;
}

bool close_file(os_file* f) {
  // A file marked for deletion goes, and frees its name, with its last
  // handle (FILE_DISPOSITION_INFO).
  if (f->handle != -1 && --fake.handles[f->handle] == 0 && fake.named == f->handle &&
      fake.pending[f->handle]) {
    fake.named = -1;
  }
  f->handle = -1;
  return true;
}

bool describe(os_file f, file_facts* facts) {
  facts->id = {1, static_cast<uint64_t>(f.handle) + 1};
  facts->regular = true;
  return true;
}

bool lock_exclusive(os_file) {
  if (fake.on_lock) std::exchange(fake.on_lock, nullptr)();
  return true;
}

bool name_leads_to(const std::string&, const file_id& id, bool) {
  return fake.named >= 0 && !name_pending() && id.index == static_cast<uint64_t>(fake.named) + 1;
}

bool remove_name(const std::string&, const file_id& id) {
  if (fake.named < 0) return true;
  if (!name_leads_to("", id, false)) return false;
  // A POSIX delete takes the name away at once, while others still hold the
  // file (FILE_DISPOSITION_INFO_EX).
  fake.pending[fake.named] = true;
  if (fake.posix_delete || fake.handles[fake.named] == 0) fake.named = -1;
  return true;
}

void wait_for_name() {
  ++fake.waits;
}

// Not reached by the take loop, or nothing to model.
// clang-format off
bool make_private(os_file) { return true; }
bool truncate_to_empty(os_file) { return false; }
bool rewind_file(os_file) { return false; }
bool copy_in_kernel(os_file, os_file) { return false; }
int64_t read_some(os_file, void*, size_t) { return -1; }
bool write_all(os_file, const void*, size_t) { return false; }
// clang-format on

namespace {

// Fails on a take loop that retries while it still holds the file it waited
// on: without a POSIX delete (FAT, SMB, Windows before 10 1709) that handle
// keeps the name delete pending, and every retry finds it busy.
TEST(win_model, a_run_that_waited_takes_the_name_once_freed) {
  for (const bool posix : {false, true}) {
    fake = {};
    fake.posix_delete = posix;
    os_file held;  // the run before, which removes binary.tmp while this one waits
    ASSERT_EQ(open_staging_file(staging_name, true, &held), own_open::opened);
    fake.on_lock = [&] { EXPECT_TRUE(remove_name(staging_name, {1, 1}) && close_file(&held)); };
    staging_file s;
    EXPECT_TRUE(s.take()) << "POSIX delete " << posix << ", " << fake.waits << " waits";
    EXPECT_EQ(s.id().index, 2u) << posix;
    EXPECT_TRUE(s.release() && fake.handles[0] == 0);
  }
}

// A name left delete pending by a handle that never closes: 2000 tries, then the run gives up.
TEST(win_model, a_name_that_stays_busy_is_given_up_after_2000_tries) {
  fake = {};
  os_file held;
  ASSERT_EQ(open_staging_file(staging_name, true, &held), own_open::opened);
  fake.pending[0] = true;
  EXPECT_FALSE(staging_file().take());
  EXPECT_EQ(fake.waits, 2000);
}

TEST(win_rules, a_plain_file_is_on_disk_no_folder_and_no_name_surrogate) {
  constexpr uint32_t link = win_attribute_reparse_point, dir = win_attribute_directory;
  const struct {
    uint32_t type, attributes, tag;
    bool regular;
  } rows[] = {
      // Plain, deduplicated, HSM, a cloud placeholder (not hidden); a symbolic link, a
      // junction, a WSL symbolic link, a folder, a device (NUL, CON, COM1), a pipe.
      // clang-format off
      {1, 0x20, 0, true}, {1, 0x20 | link, 0x80000013, true}, {1, link, 0xC0000004, true},
      {1, 0x400000 | link, 0x9000001A, true}, {1, link, 0xA000000C, false},
      {1, dir | link, 0xA0000003, false}, {1, link, 0xA000001D, false}, {1, dir, 0, false},
      {2, 0x80, 0, false}, {3, 0, 0, false},
      // clang-format on
  };
  for (const auto& r : rows) {
    EXPECT_EQ(win_regular(r.type, r.attributes, r.tag), r.regular) << std::hex << r.tag;
  }
}

TEST(win_rules, only_a_delete_pending_name_is_busy) {
  constexpr uint32_t none = win_invalid_attributes;
  using enum own_open;
  const struct {
    uint32_t error, attributes, attributes_error;
    own_open is;
  } rows[] = {
      {80, 0, 0, exists},   {2, 0, 0, missing},
      {5, none, 5, busy},                          // marked for deletion, still open
      {303, 0, 0, busy},    {5, none, 2, failed},  // a folder the user cannot write
      {5, none, 3, failed}, {5, 0x20, 0, failed},  // another user's file
      {5, 0x10, 0, failed},                        // a folder named binary.tmp
      {32, 0, 0, failed},                          // a sharing violation
  };
  for (const auto& r : rows) {
    EXPECT_EQ(win_open_failure(r.error, r.attributes, r.attributes_error), r.is)
        << r.error << " " << r.attributes << " " << r.attributes_error;
  }
}

TEST(win_rules, a_named_stream_is_a_file_of_its_own) {
  for (const char* name : {"x.csv", "x.csv::$DATA", "C:x.csv", "d:\\x", "\\\\.\\pipe\\p"}) {
    EXPECT_EQ(win_stream_key(name), 0u) << name;
  }
  const uint64_t s = win_stream_key("x.csv:z");
  EXPECT_TRUE(s != 0 && s != win_stream_key("x.csv:t"));
  for (const char* name : {"X.CSV:Z", "d\\x.csv:z:$DATA", "C:x.csv:z:$data"}) {
    EXPECT_EQ(win_stream_key(name), s) << name;
  }
}

TEST(win_rules, own_names_ignore_case_and_trailing_dots) {
  for (const char* name : {"draft.txt", "DRAFT.TXT", "Draft.txt. .", "draft.txt::$DATA"}) {
    EXPECT_TRUE(win_own_name(name, "draft.txt")) << name;
  }
  for (const char* name :
       {"draft.txt:s", "drift.txt", "xdraft.txt", "d\\draft.txt", "C:draft.txt"}) {
    EXPECT_FALSE(win_own_name(name, "draft.txt")) << name;
  }
}

}  // namespace
