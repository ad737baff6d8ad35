// Splits an argument such as "-x12" into the text in front of its trailing
// decimal digits ("-x") and the digits themselves ("12").
#pragma once

#include <cstdint>
#include <string>

struct opt_parts {
  std::string prefix;
  std::string digits;
};

void opt_split(opt_parts* parts, const char* arg);
// The digits as a number: 0 when there are none, 2147483647 at most.
int32_t opt_number(const opt_parts* parts);
const std::string& opt_prefix(const opt_parts* parts);
