// libFuzzer target: no IR text may crash the optimiser, and its output is always made
// of whole CR LF lines.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "opt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string out = kv::optimise_ir(in);
  if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) std::abort();
  return 0;
}
