// Runs the built program in a scratch directory and reads back every file it
// left there, so tests can compare whole results byte for byte.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

using files = std::map<std::string, std::string>;  // relative name -> bytes

struct run_result {
  int status = -1;  // exit status as the shell sees it (0..255)
  std::string err;  // standard error, line ends as the program wrote them
};

struct run_options {
  long file_size_limit = -1;  // RLIMIT_FSIZE for the child, bytes; -1 keeps it
  int timeout_seconds = 60;
};

// A fresh empty directory, removed with everything in it at scope exit.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Creates the file and any directories its name passes through.
  void write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The program under test: $TAVLEN_PROGRAM, run through $TAVLEN_LAUNCHER when set.
run_result run_tavlen(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                      const run_options& options = {});

// Every file below dir with its bytes; a directory shows as "<dir>", a
// symbolic link as "<link>".
files read_tree(const std::filesystem::path& dir);
void expect_tree(const std::filesystem::path& dir, const files& want);

// Runs the program in dir and expects exactly this status, standard error
// and set of files afterwards.
void expect_run(const std::filesystem::path& dir, const std::vector<std::string>& args, int status,
                const std::string& err, const files& after, const run_options& options = {});

// Messages end in CR LF where standard error is a Windows text stream.
std::string platform_lines(const std::string& text);
bool windows_program();

// Bytes as C-escaped text, for readable failure messages.
std::string escaped(const std::string& bytes);

}  // namespace e2e
