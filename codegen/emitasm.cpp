// The IR reader and the module's order: the lines are cut once, the routines come from
// routines.cpp, the frame around them (runtime pieces, data and bss) from module.cpp.
#include "emitasm.h"

#include "gen.h"
#include "module.h"
#include "runtime_text.h"

namespace kv {
namespace gen {

size_t Pool::intern(std::string_view text) {
  std::string key(text);
  auto it = index.find(key);
  if (it != index.end()) return it->second;
  size_t k = items.size();
  items.push_back(key);
  index.emplace(std::move(key), k);
  return k;
}

}  // namespace gen

std::vector<std::string_view> split_ir_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view piece = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    if (!piece.empty()) lines.push_back(piece);
  }
  return lines;
}

std::string emit_module_with_runtime(std::string_view ir_text, std::string_view routines) {
  using namespace gen;
  Gen g;
  for (std::string_view line : split_ir_lines(ir_text)) g.lines.push_back(ir::parse(line));

  write_module_head(g);

  write_routines(g);

  write_runtime_block(g, routines);
  write_module_tail(g);
  return std::move(g.out);
}

std::string emit_module(std::string_view ir_text) {
  return emit_module_with_runtime(ir_text, runtime_text().routines);
}

}  // namespace kv
