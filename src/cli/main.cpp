#include <csignal>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "trim/platform.h"

namespace {

int start(int argc, const char* const* argv) {
  // Before any file is opened, or it could take the place of standard error
  // and receive the messages.
  if (!guard_standard_streams()) return 1;
#ifdef SIGXFSZ
  // A write past the file size limit then fails, and is reported, instead of
  // ending the run without a word.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
  // A reader that left makes the write fail, and that is reported; a message
  // nobody reads is lost, not the run.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return run_tavlen(argc, argv);
}

}  // namespace

#ifdef _WIN32
// The command line as the system holds it, in UTF-16: the narrow one passes
// through the code page, which may lack a name's letters or swap them for
// look-alikes. Inside, names are UTF-8.
int wmain(int argc, wchar_t** wide) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const std::wstring arg = wide[i];
    args.push_back(utf8_from_utf16(std::u16string(arg.begin(), arg.end())));
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return start(argc, argv.data());
}
#else
int main(int argc, char** argv) {
  return start(argc, argv);
}
#endif
