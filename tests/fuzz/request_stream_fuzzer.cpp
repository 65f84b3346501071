// libFuzzer entry of the request stream harness: a broken file invariant, or a stream that does
// something else when cut into other pieces, aborts like a sanitizer report, so that libFuzzer
// keeps the input as a finding.
#include <cstdio>
#include <cstdlib>

#include "request_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qv::fuzz::RequestStreamHarness harness;
  const qv::fuzz::RunSummary summary =
      RunAndCompareWhole(harness, std::span<const uint8_t>(data, size));
  if (!summary.violations.empty()) {
    for (const std::string& violation : summary.violations) {
      std::fprintf(stderr, "request stream: %s\n", violation.c_str());
    }
    std::abort();
  }
  return 0;
}
