// Runs the built program in a scratch directory and reads back every file it
// left there, so tests can compare whole results byte for byte.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

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
  scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "tavlen-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~scratch_dir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const fs::path& path() const { return path_; }
  // Creates the file and any directories its name passes through.
  void write(const std::string& name, const std::string& bytes) const {
    fs::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }

 private:
  fs::path path_;
};

inline bool windows_program() {
  const char* launcher = std::getenv("TAVLEN_LAUNCHER");
  return launcher != nullptr && *launcher != '\0';
}

// Messages end in CR LF where standard error is a Windows text stream.
inline std::string platform_lines(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '\n' && windows_program() ? "\r\n" : std::string(1, c);
  return out;
}

// The program under test: $TAVLEN_PROGRAM, run through $TAVLEN_LAUNCHER when set.
inline run_result run_tavlen(const fs::path& cwd, const std::vector<std::string>& args,
                             const run_options& options = {}) {
  const char* program = std::getenv("TAVLEN_PROGRAM");
  if (program == nullptr) throw std::runtime_error("TAVLEN_PROGRAM is not set");
  std::vector<std::string> argv_text = {fs::absolute(program).string()};
  if (windows_program()) argv_text.insert(argv_text.begin(), std::getenv("TAVLEN_LAUNCHER"));
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  FILE* err_file = std::tmpfile();
  if (err_file == nullptr) throw std::runtime_error("tmpfile failed");

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(125);
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0), dup2(null_fd, 1), dup2(fileno(err_file), 2);
    signal(SIGPIPE, SIG_DFL);
    const auto bytes = static_cast<rlim_t>(options.file_size_limit);
    const rlimit limit{bytes, bytes};
    if (options.file_size_limit >= 0) signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &limit);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int wait_status = 0;
  for (int waited = 0; waitpid(pid, &wait_status, WNOHANG) == 0; ++waited) {
    if (waited == options.timeout_seconds * 500) {
      kill(pid, SIGKILL), waitpid(pid, &wait_status, 0), std::fclose(err_file);
      throw std::runtime_error("program did not finish in time");
    }
    usleep(2000);
  }
  run_result result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  std::rewind(err_file);
  for (int c; (c = std::fgetc(err_file)) != EOF;) result.err += static_cast<char>(c);
  std::fclose(err_file);
  return result;
}

// Every file below dir with its bytes; a directory shows as "<dir>", a
// symbolic link as "<link>".
inline files read_tree(const fs::path& dir) {
  files tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    // Lexical: relative() would resolve a link to the name of its target.
    std::string& bytes = tree[entry.path().lexically_relative(dir).generic_string()];
    if (entry.is_symlink() || entry.is_directory()) {
      bytes = entry.is_symlink() ? "<link>" : "<dir>";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

// gtest shows both sides with their bytes escaped.
inline void expect_tree(const fs::path& dir, const files& want) {
  EXPECT_EQ(read_tree(dir), want);
}

// Runs the program in dir and expects exactly this status, standard error
// and set of files afterwards.
inline void expect_run(const fs::path& dir, const std::vector<std::string>& args, int status,
                       const std::string& err, const files& after,
                       const run_options& options = {}) {
  const run_result got = run_tavlen(dir, args, options);
  EXPECT_EQ(got.status, status);
  EXPECT_EQ(got.err, err);
  expect_tree(dir, after);
}

}  // namespace e2e
