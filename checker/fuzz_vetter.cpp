// libFuzzer target: any bytes in, diagnostics and a count out; never a crash, a hang or
// unbounded memory. The input is split at NUL bytes: the first part is the main file,
// the next two are the files "one.kv" and "two.kv" that it (and they) may use. Every
// other used name cannot be opened, which ends the run the way the program would.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vetter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 3) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  parts.resize(3);
  const auto reader = [&parts](const std::string& name, std::string& text) {
    if (name == "one.kv") {
      text = parts[1];
      return true;
    }
    if (name == "two.kv" || name == "lib/two.kv") {
      text = parts[2];
      return true;
    }
    return false;
  };
  try {
    const kv::vetter::CheckResult r = kv::vetter::check_source("main.kv", parts[0], reader);
    // Errors are counted exactly when diagnostics were written.
    if (r.error_count < 0 || (r.error_count == 0) != r.diagnostics.empty()) __builtin_trap();
  } catch (const kv::CannotOpenFile&) {
  }
  return 0;
}
