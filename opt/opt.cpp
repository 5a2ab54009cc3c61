#include "opt.h"

namespace kv {

std::string optimise_ir(std::string_view ir) {
  std::string out;
  out.reserve(ir.size() + ir.size() / 16 + 2);
  size_t from = 0;
  while (from < ir.size()) {
    size_t nl = ir.find('\n', from);
    size_t end = nl == std::string_view::npos ? ir.size() : nl;
    size_t stop = end;
    if (stop > from && ir[stop - 1] == '\r') --stop;
    out.append(ir.substr(from, stop - from));
    out.append("\r\n");
    if (nl == std::string_view::npos) break;
    from = nl + 1;
  }
  return out;
}

}  // namespace kv
