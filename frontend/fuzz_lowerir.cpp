// libFuzzer target: any bytes through the whole stage, `use` expansion included.
// The input is split at NUL bytes: the first part is the main source, part k (k >= 1)
// is the file that `use "f<k>":` names; every other name cannot be opened.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lowerir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      parts.emplace_back();
    else
      parts.back().push_back(static_cast<char>(data[i]));
  }
  kv::frontend::FileAccess files{
      [](const std::string& name) { return name; },
      [&parts](const std::string& path, std::string& text) {
        if (path == "main.kv") {
          text = parts[0];
          return true;
        }
        if (path.size() < 2 || path.size() > 4 || path[0] != 'f') return false;
        size_t k = 0;
        for (size_t i = 1; i < path.size(); ++i) {
          if (path[i] < '0' || path[i] > '9') return false;
          k = k * 10 + static_cast<size_t>(path[i] - '0');
        }
        if (k == 0 || k >= parts.size()) return false;
        text = parts[k];
        return true;
      }};
  kv::frontend::StringSink sink;
  try {
    kv::frontend::run_stage("main.kv", sink, files);
  } catch (const kv::CannotOpenFile&) {
  }
  return 0;
}
