#include <csignal>

#include "cli/driver.h"
#include "trim/platform.h"

int main(int argc, char** argv) {
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
