// The IR reader and the module's order: tables, declaration scan, routine framing; the
// frame around them (runtime pieces, data and bss) is module.cpp's.
#include "emitasm.h"

#include <algorithm>

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

Fields fields_of(std::string_view line) {
  Fields f;
  size_t sp = line.find(' ');
  if (sp == std::string_view::npos) {
    f.op = line;
    return f;
  }
  f.op = line.substr(0, sp);
  f.rest = line.substr(sp + 1);
  size_t sp2 = f.rest.find(' ');
  if (sp2 == std::string_view::npos) {
    f.a = f.rest;
    return f;
  }
  f.a = f.rest.substr(0, sp2);
  std::string_view tail = f.rest.substr(sp2 + 1);
  f.b = tail.substr(0, tail.find(' '));
  return f;
}

std::string letter_of_param(std::string_view w) {
  if (w == "text" || w == "s") return "s";
  if (w == "list" || w == "l") return "ls";
  if (w == "int" || w == "bool") return "i";
  if (w == "float" || w == "f") return "f";
  return std::string(w);
}

namespace {

std::string letter_of_fn(std::string_view w) {
  if (w == "text" || w == "s") return "s";
  if (w == "list" || w == "l") return "ls";
  if (w == "float" || w == "f") return "f";
  return "i";
}

bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

struct Range {
  size_t begin, end;  // [begin, end) into the line table
};

void declaration_scan(Gen& g) {
  bool in_fn = false;
  std::string current_record;
  for (std::string_view line : g.lines) {
    if (starts_with(line, "fn ")) {
      in_fn = true;
      Fields f = fields_of(line);
      g.functions.emplace(std::string(f.a), letter_of_fn(f.b));
      continue;
    }
    if (line == "end" || line == "main") {
      in_fn = false;
      continue;
    }
    if (in_fn) continue;
    Fields f = fields_of(line);
    if (f.op == "DECL") {
      g.global_names.intern(f.b);
      if (f.a == "text" || f.a == "s") g.global_types.emplace(std::string(f.b), "s");
    } else if (f.op == "STORE" || f.op == "FIX") {
      g.global_names.intern(f.a);
    } else if (f.op == "REC") {
      current_record = std::string(f.a);
      g.record_list.push_back(current_record);
    } else if (f.op == "RFIELD") {
      auto& fields = g.records[current_record];
      g.field_index.emplace(current_record + '\n' + std::string(f.b), fields.size());
      fields.push_back(Field{std::string(f.a), std::string(f.b)});
    } else if (f.op == "ENUM") {
      g.enum_list.push_back(std::string(f.a));
    } else if (f.op == "INEXT") {
      if (f.a != "~") g.global_names.intern(f.a);
    }
  }
}

void reset_routine(Gen& g) {
  g.local_names = Pool{};
  g.local_types.clear();
  g.loops.clear();
  g.types.clear();
  g.local_count = 0;
  g.coroutine = false;
}

// Depth of loop nesting over some lines; an IPOP with no open loop is ignored, as the
// translation ignores it.
void count_depth(std::string_view line, size_t& depth, size_t& max_depth) {
  if (line == "RANGE" || line == "ITER") {
    ++depth;
    max_depth = std::max(max_depth, depth);
  } else if (line == "IPOP" && depth > 0) {
    --depth;
  }
}

void translate_function(Gen& g, Range block) {
  reset_routine(g);
  Fields head = fields_of(g.lines[block.begin]);
  size_t depth = 0, max_depth = 0;
  for (size_t i = block.begin + 1; i < block.end; ++i) {
    std::string_view line = g.lines[i];
    Fields f = fields_of(line);
    if (f.op == "param" || f.op == "DECL") {
      g.local_names.intern(f.b);
    } else if (f.op == "FIX") {
      g.local_names.intern(f.a);
    } else if (f.op == "INEXT") {
      if (f.a != "~") g.local_names.intern(f.a);
    }
    count_depth(line, depth, max_depth);
    if (line == "YIELD") g.coroutine = true;
  }
  g.local_count = g.local_names.items.size();
  g.label("kv_fn_" + std::string(head.a) + ":");
  g.ins("push rbp");
  g.ins("mov rbp, rsp");
  size_t frame = 8 * (g.local_count + 3 * max_depth);
  if (frame > 0) g.ins("sub rsp, " + std::to_string(frame));
  std::vector<Fields> params;
  for (size_t i = block.begin + 1; i < block.end && starts_with(g.lines[i], "param "); ++i)
    params.push_back(fields_of(g.lines[i]));
  size_t n = params.size();
  for (size_t i = 0; i < n; ++i) {
    std::string name(params[i].b);
    size_t k = g.local_names.intern(name) + 1;
    g.ins("mov rax, [rbp+" + std::to_string(16 + 8 * (n - 1 - i)) + "]");
    g.ins("mov [rbp-" + std::to_string(8 * k) + "], rax");
    g.local_types.emplace(name, letter_of_param(params[i].a));
  }
  for (size_t i = block.begin + 1; i < block.end; ++i) {
    std::string_view line = g.lines[i];
    if (starts_with(line, "param ") || starts_with(line, "fn ") || line == "end") continue;
    g.translate_line(line);
  }
  // A block cut short before its RET or RETN returns 0 rather than run on.
  std::string_view last = g.lines[block.end - 1];
  if (last != "RET" && last != "RETN" && last != "HALT") g.translate_line("RETN");
}

}  // namespace

std::string Gen::pop_raw_type() {
  if (types.empty()) return "i";
  std::string t = std::move(types.back());
  types.pop_back();
  return t;
}

std::string Gen::pop_type() {
  std::string t = pop_raw_type();
  return t == "e" ? "s" : t;
}

std::vector<std::string> Gen::pop_types(size_t n) {
  std::vector<std::string> taken(n, "i");
  size_t have = std::min(n, types.size());
  for (size_t i = 0; i < have; ++i) {
    std::string& t = types[types.size() - have + i];
    taken[n - have + i] = t == "e" ? "s" : std::move(t);
  }
  types.resize(types.size() - have);
  return taken;
}

size_t Gen::count_operand(std::string_view op, size_t per_item) const {
  size_t limit = types.size() / per_item;
  if (op.empty()) return 0;
  size_t v = 0;
  for (char c : op) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<size_t>(c - '0');
    if (v > limit) return limit;
  }
  return v;
}

std::string Gen::var_ref(const std::string& name) const {
  auto it = local_names.index.find(name);
  if (it != local_names.index.end()) return "[rbp-" + std::to_string(8 * (it->second + 1)) + "]";
  return "[kv_g_" + name + "]";
}

std::string Gen::var_type(const std::string& name) const {
  auto lt = local_types.find(name);
  if (lt != local_types.end()) return lt->second;
  auto gt = global_types.find(name);
  if (gt != global_types.end()) return gt->second;
  return "i";
}

void Gen::record_var_type(const std::string& name, const std::string& letter) {
  if (local_names.contains(name))
    local_types.emplace(name, letter);
  else
    global_types.emplace(name, letter);
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
  g.lines = split_ir_lines(ir_text);
  declaration_scan(g);

  write_module_head(g);

  // The program body: the top-level region without function blocks, then the main block.
  const size_t n = g.lines.size();
  size_t main_at = n;
  for (size_t i = 0; i < n; ++i)
    if (g.lines[i] == "main") {
      main_at = i;
      break;
    }
  std::vector<size_t> body;
  bool skipping = false;
  for (size_t i = 0; i < main_at; ++i) {
    std::string_view line = g.lines[i];
    if (skipping) {
      if (line == "end") skipping = false;
      continue;
    }
    if (starts_with(line, "fn ")) {
      skipping = true;
      continue;
    }
    body.push_back(i);
  }
  if (main_at < n)
    for (size_t i = main_at + 1; i < n && g.lines[i] != "end"; ++i) body.push_back(i);

  reset_routine(g);
  size_t depth = 0, max_depth = 0;
  for (size_t i : body) count_depth(g.lines[i], depth, max_depth);
  g.label("kv_user_main:");
  g.ins("push rbp");
  g.ins("mov rbp, rsp");
  if (max_depth > 0) g.ins("sub rsp, " + std::to_string(24 * max_depth));
  for (size_t i : body) g.translate_line(g.lines[i]);
  // A body that does not end in HALT (the empty program, say) must still return to
  // kv_start rather than run on into the next routine.
  if (body.empty() || g.lines[body.back()] != "HALT") g.translate_line("HALT");

  // Functions, in the order of their "fn" lines. A block also ends at the next "fn" or
  // "main" line; a function that begins there is still translated.
  for (size_t i = 0; i < n;) {
    if (!starts_with(g.lines[i], "fn ")) {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && g.lines[j] != "end" && g.lines[j] != "main" && !starts_with(g.lines[j], "fn ")) ++j;
    translate_function(g, Range{i, j});
    i = (j < n && g.lines[j] == "end") || (j < n && g.lines[j] == "main") ? j + 1 : j;
  }

  write_runtime_block(g, routines);
  write_module_tail(g);
  return std::move(g.out);
}

std::string emit_module(std::string_view ir_text) {
  return emit_module_with_runtime(ir_text, runtime_text().routines);
}

}  // namespace kv
