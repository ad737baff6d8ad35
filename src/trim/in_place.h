// Replacing the input in place, so that a kill or a power cut at any moment
// leaves the input or the result whole under a name no later run reuses, and
// another program's change to the file is never overwritten unreported. Once
// binary.tmp holds the whole result and the output is found to be the input,
// in this order:
//   keep     the result gets a name of its own, NAME.trimmed-N, whole and on
//            disk before it has that name: a link of binary.tmp in the
//            current folder, checked to be binary.tmp, or else a copy in the
//            folder that holds the output's file, written under a temporary
//            name, synced and renamed
//   hold     other programs kept out where the system allows, the output
//            locked and checked against the version the pass read; the caller
//            truncates it at once, then writes and syncs the result
//   confirm  the name still leads to the file written, as written, and no
//            other program came for it meanwhile
//   finish   the kept name goes, once the output is closed
// A failure before hold ends leaves the output untouched and drops the kept
// name; from then on the kept name stays and holds the whole result.
#pragma once

#include <cstddef>
#include <string>

#include "trim/platform.h"
#include "trim/run_failure.h"
#include "trim/staging_file.h"

class in_place_replacement {
 public:
  bool keep(const staging_file& staging, const std::string& out_name, os_file output,
            unsigned char* scratch, size_t scratch_size, run_failure* why);
  // `read`: the input as the pass read it; `held`: the output once held;
  // `unlocked`: where the file system has no locks.
  bool hold(owned_file* output, const std::string& out_name, const file_facts& read,
            file_facts* held, bool* unlocked, run_failure* why);
  bool confirm(os_file output, const std::string& out_name, const staging_file& staging,
               run_failure* why);
  void finish();
  // The whole result's own name; empty when there is none.
  const std::string& kept_name() const { return kept_name_; }

 private:
  bool link_staging(const staging_file& staging, const std::string& out_name);
  bool copy_staging(const staging_file& staging, const std::string& folder, const std::string& base,
                    unsigned char* scratch, size_t scratch_size);
  enum class copy_made { copy, name_taken, failed };
  copy_made copy_to_new(const staging_file& staging, const std::string& partial,
                        unsigned char* scratch, size_t scratch_size, file_id* id);
  // The name just made, last_tried_, becomes the kept name if it leads to
  // `made` and is on disk in `folder`; else it goes.
  bool settle(const std::string& folder, const file_id& made);
  bool refuse(run_failure* why, const char* call, const std::string& what);

  std::string kept_name_;
  file_id kept_id_;
  std::string last_tried_;
};
