#include "source.h"

#include "platform.h"
#include "stage_io.h"

namespace kv {

std::string resolve_use_path(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) return name;
  if (can_open(name)) return name;
  return exe_dir() + "/" + name;
}

std::string strip_start_block(std::string_view text) {
  const size_t at = text.find("start [");
  if (at == std::string_view::npos) return std::string(text);
  std::string kept(text.substr(0, at));
  long depth = 0;
  for (size_t i = at + 6; i < text.size(); ++i) {
    if (text[i] == '[') {
      ++depth;
    } else if (text[i] == ']' && --depth == 0) {
      kept.append(text.substr(i + 1));
      return kept;
    }
  }
  return kept;
}

}  // namespace kv
