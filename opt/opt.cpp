#include "opt.h"

#include "program.h"

namespace kv {

namespace {

opt::Program read_lines(std::string_view ir) {
  opt::Program p;
  size_t from = 0;
  while (from < ir.size()) {
    size_t nl = ir.find('\n', from);
    size_t end = nl == std::string_view::npos ? ir.size() : nl;
    size_t stop = end;
    if (stop > from && ir[stop - 1] == '\r') --stop;
    p.lines.emplace_back(ir.substr(from, stop - from));
    if (nl == std::string_view::npos) break;
    from = nl + 1;
  }
  return p;
}

}  // namespace

std::string optimise_ir(std::string_view ir) {
  opt::Program p = read_lines(ir);
  // The cleaning passes feed each other (a decided branch leaves dead code, dead code leaves
  // a jump to the next line); a few rounds reach the point where none changes anything.
  for (int round = 0; round < 8; ++round) {
    bool changed = opt::fold_constants(p);
    changed |= opt::thread_jumps(p);
    changed |= opt::drop_dead_code(p);
    changed |= opt::drop_unused_labels(p);
    if (!changed) break;
  }
  opt::fuse(p);
  std::string out;
  out.reserve(ir.size() + ir.size() / 16 + 2);
  for (const std::string& line : p.lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace kv
