// Any bytes as IR: emitasm must finish without a crash and in time proportional to the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emitasm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view ir(reinterpret_cast<const char*>(data), size);
  std::string module = kv::emit_module(ir);
  if (module.empty()) __builtin_trap();
  return 0;
}
