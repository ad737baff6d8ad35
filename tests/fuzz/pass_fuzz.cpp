// The block-wise pass, fed in fuzzed read sizes, against the per-byte
// reference on the same bytes and settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "../pass_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Mostly the small values that matter, now and then any 32-bit value.
  auto setting = [&in] {
    return in.ConsumeBool() ? in.ConsumeIntegral<int32_t>()
                            : in.ConsumeIntegralInRange<int32_t>(-2, 130);
  };
  const int32_t group_lines = setting(), cut_len = setting();
  const line_end variant = in.ConsumeBool() ? line_end::crlf : line_end::lf;
  std::vector<size_t> reads(in.ConsumeIntegralInRange<size_t>(1, 8));
  for (size_t& n : reads) n = in.ConsumeIntegralInRange<size_t>(0, 300);
  reads[0] = std::max<size_t>(reads[0], 1);
  // Any scan the processor has, the plain one included.
  const auto scan =
      static_cast<pass_scan>(in.ConsumeIntegralInRange<int>(0, static_cast<int>(widest_scan())));
  if (!block_pass_matches(group_lines, cut_len, variant, reads,
                          in.ConsumeRemainingBytes<unsigned char>(), scan))
    std::abort();
  return 0;
}
