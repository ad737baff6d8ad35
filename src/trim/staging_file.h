// The staging file, binary.tmp in the current directory, which every run in
// that directory uses in turn. Its life in one run, in this order:
//   take            open it (new and its owner's only, or the one there),
//                   never through a link, and wait for the turn
//   empty           drop what an earlier run left in it
//   (the pass)      write the result through file(), then mark_whole
//   sync, copy_to   on disk before an in-place run truncates its input; the
//                   result copied out
//   remove          once the output holds the result, unless -y keeps it
//   release         close it; the turn ends (also when the run ends, however,
//                   and a file made by this run and never written goes)
// A file with a second name is never written: a run killed while it kept its
// result there left that name, and it holds the only whole result.
#pragma once

#include <cstddef>

#include "trim/platform.h"

inline constexpr const char* staging_name = "binary.tmp";

enum class copy_result { done, read_failed, write_failed };

class staging_file {
 public:
  staging_file() = default;
  staging_file(const staging_file&) = delete;
  staging_file& operator=(const staging_file&) = delete;
  ~staging_file();
  // False when binary.tmp cannot be used: a link, not a regular file, another
  // user's, or no way to open it. A file made here and then refused goes.
  bool take();
  // False when what an earlier run left cannot be dropped.
  bool empty();
  os_file file() const { return file_.get(); }
  const file_id& id() const { return id_; }
  // False where the file system has no locks: runs may then overlap.
  bool locked() const { return locked_; }
  void mark_whole() { whole_ = true; }
  // True from the pass's end until binary.tmp is removed or let go: a
  // failure meanwhile leaves the whole result there.
  bool holds_result() const { return whole_; }
  bool sync() const { return sync_file(file_.get()); }
  // Copies the whole file to `to`, through `scratch` where the kernel cannot.
  copy_result copy_to(os_file to, unsigned char* scratch, size_t scratch_size) const;
  // Removes the name binary.tmp, if it still names the file held.
  void remove();
  // False when closing reports that writes to a kept result were lost.
  bool release();

 private:
  enum class taken { held, again, refused };
  taken hold(bool created);

  owned_file file_;
  file_id id_;
  bool created_ = false;
  bool locked_ = false;
  bool written_ = false;
  bool whole_ = false;
};
