// The block-wise pass, fed in fuzzed read sizes, against the per-byte
// reference on the same bytes and settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "../pass_check.h"

namespace {

// Mostly the small values that matter, now and then any 32-bit value.
int32_t setting(FuzzedDataProvider* in) {
  if (in->ConsumeBool()) return in->ConsumeIntegral<int32_t>();
  return in->ConsumeIntegralInRange<int32_t>(-2, 130);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t group_lines = setting(&in), cut_len = setting(&in);
  const line_end variant = in.ConsumeBool() ? line_end::crlf : line_end::lf;
  std::vector<size_t> reads(in.ConsumeIntegralInRange<size_t>(1, 8));
  for (size_t& n : reads) n = in.ConsumeIntegralInRange<size_t>(0, 300);
  reads[0] = std::max<size_t>(reads[0], 1);
  if (!block_pass_matches(group_lines, cut_len, variant, reads,
                          in.ConsumeRemainingBytes<unsigned char>()))
    std::abort();
  return 0;
}
