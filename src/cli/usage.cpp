#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "trim/platform.h"

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
  char banner[64];
  std::snprintf(banner, sizeof banner, "tavlen C-%1.3f\n\n", version);
  std::string text = banner;
  for (const sample_line& s : samples) {
    text.append(s.command).append(with_comments ? s.comment : "").append("\n");
  }
  write_message(text);
  std::exit(1);
}
