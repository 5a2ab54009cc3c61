// The declaration scan, routine frames and the order in which routines are translated:
// the program body first, then each function in the order of its "fn" line.
#include <algorithm>

#include "gen.h"

namespace kv::gen {
namespace {

using ir::Op;

// Records first, so that a type word names a record wherever it stands. Like every
// declaration, a record counts only outside functions.
void scan_records(Gen& g) {
  std::string current;
  bool in_fn = false;
  for (const ir::Line& l : g.lines) {
    if (l.op == Op::Fn) {
      in_fn = true;
    } else if (l.op == Op::End || l.op == Op::Main) {
      in_fn = false;
    } else if (in_fn) {
      continue;
    } else if (l.op == Op::Rec) {
      current = std::string(l.a);
      g.records.names.push_back(current);
      g.records.fields.try_emplace(current);
    } else if (l.op == Op::RField) {
      auto& fields = g.records.fields[current];
      g.records.field_index.emplace(current + '\n' + std::string(l.b), fields.size());
      fields.push_back(Field{std::string(l.a), std::string(l.b)});
    }
  }
}

// Functions and their results; every variable written outside a function is a global.
void declaration_scan(Gen& g) {
  scan_records(g);
  bool in_fn = false;
  Signature* current = nullptr;
  bool first = false;
  for (const ir::Line& l : g.lines) {
    switch (l.op) {
      case Op::Fn:
        in_fn = true;
        current = &g.functions.emplace(std::string(l.a), Signature{type_of_word(l.b, g.records), {}}).first->second;
        first = current->params.empty();
        continue;
      case Op::Param:
        // The parameters stand right after their "fn" line; a second function of the same
        // name keeps the first one's signature.
        if (in_fn && first) current->params.push_back(type_of_word(l.a, g.records));
        continue;
      case Op::End:
      case Op::Main: in_fn = false; continue;
      default: first = false; break;
    }
    if (in_fn) continue;
    switch (l.op) {
      case Op::Decl:
        g.global_names.intern(l.b);
        if (type_of_word(l.a, g.records).is(Kind::Text)) g.global_types.emplace(std::string(l.b), Type::of(Kind::Text));
        break;
      case Op::Store:
      case Op::Fix:
      case Op::XInc: g.global_names.intern(l.a); break;
      case Op::Enum: g.enum_list.push_back(std::string(l.a)); break;
      case Op::INext:
      case Op::XNext:
        if (l.a != "~") g.global_names.intern(l.a);
        break;
      default: break;
    }
  }
}

void reset_routine(Gen& g, size_t locals, size_t loop_depth, Type result) {
  g.local_types.clear();
  g.loops.clear();
  g.types.clear();
  g.local_count = locals;
  g.loop_depth = loop_depth;
  g.result = std::move(result);
  g.var_kind_cells.clear();
  g.stack_kind_cells.clear();
  g.kind_cells = 0;
  g.top_in_rax = false;
  g.cold.clear();
}

// Translates a routine's lines into a text of their own, so that its frame, which ends with
// the kind cells the translation takes, is known before the prologue is written.
template <typename Body>
std::string translated(Gen& g, Body body) {
  std::string outer = std::move(g.out);
  g.out.clear();
  body();
  std::string inner = std::move(g.out);
  inner += g.cold;
  g.cold.clear();
  g.out = std::move(outer);
  return inner;
}

size_t frame_bytes(const Gen& g) { return 8 * (g.local_count + 3 * g.loop_depth + g.kind_cells); }

// Depth of loop nesting over some lines; an IPOP with no open loop is ignored, as the
// translation ignores it.
struct Depth {
  size_t now = 0, max = 0;
  void count(const ir::Line& l) {
    if (l.op == Op::Range || l.op == Op::Iter) {
      max = std::max(max, ++now);
    } else if (l.op == Op::IPop && now > 0) {
      --now;
    }
  }
};

bool returns(const ir::Line& l) { return l.op == Op::Ret || l.op == Op::RetN || l.op == Op::Halt; }

// A function block: its "fn" line at begin, its lines up to end (not included).
void translate_function(Gen& g, size_t begin, size_t end) {
  const ir::Line& head = g.lines[begin];
  g.local_names = Pool{};
  g.coroutine = false;
  Depth depth;
  for (size_t i = begin + 1; i < end; ++i) {
    const ir::Line& l = g.lines[i];
    if (l.op == Op::Param || l.op == Op::Decl) {
      g.local_names.intern(l.b);
    } else if (l.op == Op::Fix) {
      g.local_names.intern(l.a);
    } else if ((l.op == Op::INext || l.op == Op::XNext) && l.a != "~") {
      g.local_names.intern(l.a);
    }
    depth.count(l);
    if (l.op == Op::Yield) g.coroutine = true;
  }
  reset_routine(g, g.local_names.items.size(), depth.max, type_of_word(head.b, g.records));
  size_t n = 0;
  while (begin + 1 + n < end && g.lines[begin + 1 + n].op == Op::Param) ++n;
  const std::string body = translated(g, [&] {
    for (size_t i = 0; i < n; ++i) {
      const ir::Line& p = g.lines[begin + 1 + i];
      std::string name(p.b);
      size_t k = g.local_names.intern(name) + 1;
      g.ins("mov rax, [rbp+" + std::to_string(16 + 8 * (n - 1 - i)) + "]");
      g.ins("mov [rbp-" + std::to_string(8 * k) + "], rax");
      Type t = type_of_word(p.a, g.records);
      if (t.is(Kind::Dynamic)) {
        // The caller left the argument's kind in kv_arg_kinds; nothing runs in between.
        g.ins("mov rax, [kv_arg_kinds+" + std::to_string(8 * i) + "]");
        g.ins("mov " + g.var_kind_ref(name) + ", rax");
      }
      g.local_types.emplace(name, t);
    }
    for (size_t i = begin + 1; i < end; ++i) {
      const ir::Line& l = g.lines[i];
      if (l.op == Op::Param || l.op == Op::Fn || l.op == Op::End) continue;
      g.translate(l);
    }
    // A block cut short before its RET or RETN returns 0 rather than run on.
    if (!returns(g.lines[end - 1])) g.translate(ir::parse("RETN"));
  });
  g.label("kv_fn_" + std::string(head.a) + ":");
  g.ins("push rbp");
  g.ins("mov rbp, rsp");
  if (frame_bytes(g) > 0) g.ins("sub rsp, " + std::to_string(frame_bytes(g)));
  g.out += body;
}

// The program body: the top-level region without function blocks, then the main block.
void translate_body(Gen& g) {
  const size_t n = g.lines.size();
  size_t main_at = n;
  for (size_t i = 0; i < n; ++i)
    if (g.lines[i].op == Op::Main) {
      main_at = i;
      break;
    }
  std::vector<size_t> body;
  bool skipping = false;
  for (size_t i = 0; i < main_at; ++i) {
    const Op op = g.lines[i].op;
    if (skipping) {
      if (op == Op::End) skipping = false;
      continue;
    }
    if (op == Op::Fn) {
      skipping = true;
      continue;
    }
    body.push_back(i);
  }
  if (main_at < n)
    for (size_t i = main_at + 1; i < n && g.lines[i].op != Op::End; ++i) body.push_back(i);

  g.local_names = Pool{};
  g.coroutine = false;
  Depth depth;
  for (size_t i : body) depth.count(g.lines[i]);
  reset_routine(g, 0, depth.max, Type::of(Kind::Int));
  const std::string text = translated(g, [&] {
    for (size_t i : body) g.translate(g.lines[i]);
    // A body that does not end in HALT (the empty program, say) must still return to
    // kv_start rather than run on into the next routine.
    if (body.empty() || g.lines[body.back()].op != Op::Halt) g.translate(ir::parse("HALT"));
  });
  g.label("kv_user_main:");
  g.ins("push rbp");
  g.ins("mov rbp, rsp");
  if (frame_bytes(g) > 0) g.ins("sub rsp, " + std::to_string(frame_bytes(g)));
  g.out += text;
}

}  // namespace

Type Gen::pop_type() {
  if (types.empty()) return Type{};
  Type t = std::move(types.back());
  types.pop_back();
  return t;
}

std::vector<Type> Gen::pop_types(size_t n) {
  std::vector<Type> taken(n);
  size_t have = std::min(n, types.size());
  for (size_t i = 0; i < have; ++i) taken[n - have + i] = std::move(types[types.size() - have + i]);
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

std::string Gen::stack_ref(size_t pos) const {
  return "[rsp+" + std::to_string(8 * (types.size() - 1 - pos)) + "]";
}

namespace {
std::string kind_cell_at(const Gen& g, size_t j) {
  return "[rbp-" + std::to_string(8 * (g.local_count + 3 * g.loop_depth + j + 1)) + "]";
}
}  // namespace

std::string Gen::kind_cell(size_t pos) {
  auto [it, fresh] = stack_kind_cells.emplace(pos, kind_cells);
  if (fresh) ++kind_cells;
  return kind_cell_at(*this, it->second);
}

std::string Gen::var_kind_ref(const std::string& name) {
  if (!local_names.contains(name)) {
    global_kinds.intern(name);
    return "[kv_k_" + name + "]";
  }
  auto [it, fresh] = var_kind_cells.emplace(name, kind_cells);
  if (fresh) ++kind_cells;
  return kind_cell_at(*this, it->second);
}

std::string Gen::kind_operand(size_t pos) {
  if (pos < types.size() && types[pos].is(Kind::Dynamic)) return kind_cell(pos);
  return std::to_string(runtime_kind(pos < types.size() ? types[pos].kind : Kind::Int));
}

namespace {

// Calls a routine of the kind machinery on the value at a position (rcx) and its kind
// (rdx), and puts its result (rax) in the value's place.
void convert_in_place(Gen& g, size_t pos, const char* routine) {
  const std::string ref = g.stack_ref(pos);
  g.ins("mov rcx, " + ref);
  g.ins("mov rdx, " + g.kind_operand(pos));
  g.ins(std::string("call ") + routine);
  g.ins("mov " + ref + ", rax");
}

}  // namespace

void Gen::coerce(size_t pos, const Type& to) {
  if (pos >= types.size()) return;
  const Type from = types[pos];
  if (from.kind == to.kind) return;
  const std::string ref = stack_ref(pos);
  switch (to.kind) {
    case Kind::Dynamic:
      ins("mov qword " + kind_cell(pos) + ", " + std::to_string(runtime_kind(from.kind)));
      break;
    case Kind::Float:
      if (from.is(Kind::Int)) {
        ins("cvtsi2sd xmm0, qword " + ref);
        ins("movq " + ref + ", xmm0");
      } else if (from.is(Kind::Dynamic)) {
        // Inline what kv_dyn_to_float does: only an integer changes.
        const std::string skip = new_label();
        ins("cmp qword " + kind_cell(pos) + ", " + std::to_string(runtime_kind(Kind::Int)));
        ins("jne " + skip);
        ins("cvtsi2sd xmm0, qword " + ref);
        ins("movq " + ref + ", xmm0");
        label(skip + ":");
      } else {
        return;
      }
      break;
    case Kind::Int:
      if (!from.is(Kind::Dynamic)) return;
      {
        // Inline what kv_dyn_to_int does: only a float changes.
        const std::string skip = new_label();
        ins("cmp qword " + kind_cell(pos) + ", " + std::to_string(runtime_kind(Kind::Float)));
        ins("jne " + skip);
        ins("cvttsd2si rax, qword " + ref);
        ins("mov " + ref + ", rax");
        label(skip + ":");
      }
      break;
    case Kind::Text:
      convert_in_place(*this, pos, "kv_value_to_str");
      break;
    default:
      if (!from.is(Kind::Dynamic)) return;
      break;
  }
  types[pos] = to;
}

std::string Gen::var_ref(const std::string& name) const {
  auto it = local_names.index.find(name);
  if (it != local_names.index.end()) return "[rbp-" + std::to_string(8 * (it->second + 1)) + "]";
  return "[kv_g_" + name + "]";
}

Type Gen::var_type(const std::string& name) const {
  auto lt = local_types.find(name);
  if (lt != local_types.end()) return lt->second;
  auto gt = global_types.find(name);
  if (gt != global_types.end()) return gt->second;
  return Type{};
}

bool Gen::has_var_type(const std::string& name) const {
  return local_names.contains(name) ? local_types.count(name) != 0 : global_types.count(name) != 0;
}

void Gen::record_var_type(const std::string& name, const Type& t) {
  if (local_names.contains(name))
    local_types.emplace(name, t);
  else
    global_types.emplace(name, t);
}

void write_routines(Gen& g) {
  declaration_scan(g);
  for (const auto& [name, sig] : g.functions)
    for (size_t i = 0; i < sig.params.size(); ++i)
      if (sig.params[i].is(Kind::Dynamic)) g.arg_kinds = std::max(g.arg_kinds, i + 1);
  translate_body(g);
  // Functions, in the order of their "fn" lines. A block also ends at the next "fn" or
  // "main" line; a function that begins there is still translated.
  const size_t n = g.lines.size();
  for (size_t i = 0; i < n;) {
    if (g.lines[i].op != Op::Fn) {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && g.lines[j].op != Op::End && g.lines[j].op != Op::Main && g.lines[j].op != Op::Fn) ++j;
    translate_function(g, i, j);
    i = j < n && (g.lines[j].op == Op::End || g.lines[j].op == Op::Main) ? j + 1 : j;
  }
}

}  // namespace kv::gen
