#include <csignal>

#include "cli/driver.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A write past the file size limit then fails, and is reported, instead of
  // ending the run without a word.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  return run_tavlen(argc, argv);
}
