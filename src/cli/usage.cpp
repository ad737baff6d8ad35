#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct sample_line {
  const char* command;
  const char* comment;
};

// The command fills 21 columns in front of the comment's '#'.
constexpr sample_line samples[] = {
    {"tavlen -m csv        ", "# Remove a separator from every end of line. "},
    {"tavlen -u3 text      ", "# Remove 3 unnecessary characters from every end of line. "},
    {"tavlen -u3 text new  ", "# Read text to produce a new file. "},
    {"tavlen -u3 -r text   ", "# Every line includes 0Dh. "},
    {"tavlen -u3 -y text   ", "# Do not remove binary.tmp "},
    {"tavlen -u3 -w2 text  ", "# Read a double-spaced text to produce a draft. "},
    {"tavlen -x2 text      ", "# Read a double-spaced text to produce a draft. "},
    {"tavlen -V            ", "# version "},
    {"tavlen -VC           ", "# version with comments "},
    {"tavlen --help        ", "# version with comments "},
};

}  // namespace

void show_usage(double version, int with_comments) {
  std::fprintf(stderr, "tavlen C-%1.3f\n\n", version);
  for (const sample_line& s : samples) {
    std::fprintf(stderr, "%s%s\n", s.command, with_comments ? s.comment : "");
  }
  std::exit(1);
}
