// A folder with binary.tmp as Windows' documentation has it, for the staging
// file's take loop: the primitives it calls, linked in place of a platform
// file. One name, the files it has led to, and the handles open on them.
#pragma once

#include <functional>
#include <vector>

#include "trim/platform.h"

struct fake_file {
  file_id id;
  int handles = 0;
  bool delete_pending = false;
};

struct fake_folder {
  std::vector<fake_file> files;   // files[k].id.index == k + 1
  int named = -1;                 // the file binary.tmp names, if any
  bool posix_delete = false;      // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS taken
  std::function<void()> on_lock;  // what the run that holds the lock does, once
  int waits = 0;
};

extern fake_folder fake;
