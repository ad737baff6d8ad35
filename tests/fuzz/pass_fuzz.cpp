// The block-wise pass, fed in fuzzed read sizes, against the per-byte
// reference on the same bytes and settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "trim/trim_chunk.h"

namespace {

// Mostly the small values that matter, now and then any 32-bit value.
int32_t setting(FuzzedDataProvider* in) {
  if (in->ConsumeBool()) return in->ConsumeIntegral<int32_t>();
  return in->ConsumeIntegralInRange<int32_t>(-2, 130);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t group_lines = setting(&in);
  const int32_t cut_len = setting(&in);
  const line_end variant = in.ConsumeBool() ? line_end::crlf : line_end::lf;
  std::vector<size_t> read_sizes(in.ConsumeIntegralInRange<size_t>(1, 8));
  for (size_t& n : read_sizes) n = in.ConsumeIntegralInRange<size_t>(0, 300);
  read_sizes[0] = std::max<size_t>(read_sizes[0], 1);
  const std::vector<uint8_t> text = in.ConsumeRemainingBytes<uint8_t>();

  std::vector<unsigned char> want(trim_out_bound(text.size()));
  reference_carry ref;
  reference_start(&ref, group_lines, cut_len, variant);
  want.resize(reference_chunk(&ref, text.data(), text.size(), want.data()));

  std::vector<unsigned char> got;
  trim_carry carry;
  trim_start(&carry, group_lines, cut_len, variant);
  for (size_t at = 0, turn = 0; at < text.size(); ++turn) {
    const size_t n = std::min(read_sizes[turn % read_sizes.size()], text.size() - at);
    // Exactly the chunk's bytes, so any read past them is caught.
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[n]);
    std::copy_n(text.begin() + at, n, chunk.get());
    std::vector<unsigned char> out(trim_out_bound(n));
    const size_t made = trim_chunk(&carry, chunk.get(), n, out.data());
    if (made > out.size()) std::abort();
    got.insert(got.end(), out.begin(), out.begin() + made);
    at += n;
  }
  if (got != want) std::abort();
  return 0;
}
