// The extended lines opt writes. Each means exactly the basic lines it stands for; where the
// kinds of its operands are integers (or, for arithmetic and comparisons, numbers), it gets
// register-based code: operands straight from their variables or as immediates, a compare
// and its branch in one step, a counter grown in place. Otherwise the basic lines are
// translated, so the result is the same either way.
#include <limits>
#include <string>

#include "division.h"
#include "gen.h"
#include "layout.h"

namespace kv::gen {
namespace {

using ir::Op;

std::string num(int64_t v) { return std::to_string(v); }

// A decimal integer, with an optional "-"; false for anything else or one beyond 64 bits.
bool parse_int(std::string_view t, int64_t& value) {
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  if (t.empty() || t.size() > 19) return false;
  uint64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1)) return false;
  value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

// Whether an operand word is one an extended line may hold: "^", "#" and an integer, or a name.
bool well_formed(std::string_view w) {
  int64_t v;
  return !w.empty() && (!ir::is_constant(w) || parse_int(w.substr(1), v));
}

// One operand of an extended line.
struct Operand {
  std::string_view text;  // "^", "#k" or a name
  bool stack = false;
  bool constant = false;
  int64_t value = 0;
  Type type;
  size_t pos = 0;  // its type-stack position, for "^"

  bool fits_imm32() const { return constant && value >= INT32_MIN && value <= INT32_MAX; }
};

Operand operand(Gen& g, std::string_view text, size_t stack_pos) {
  Operand o;
  o.text = text;
  if (ir::from_stack(text)) {
    o.stack = true;
    o.pos = stack_pos;
    o.type = stack_pos < g.types.size() ? g.types[stack_pos] : Type{};
  } else if (ir::is_constant(text)) {
    o.constant = true;
    parse_int(text.substr(1), o.value);
  } else {
    o.type = g.var_type(std::string(text));
  }
  return o;
}

bool is_int(const Operand& o) { return o.type.is(Kind::Int); }
bool is_number(const Operand& o) { return o.type.is(Kind::Int) || o.type.is(Kind::Float); }

// The basic line an operand stands for.
std::string push_line(const Operand& o) {
  return o.constant ? ir::line(Op::Const, num(o.value)) : ir::line(Op::Load, o.text);
}

void basic(Gen& g, const std::string& text) { g.translate(ir::parse(text)); }

// The two operands of "op A B ..." (words 1 and 2), with the stack positions of "^".
struct Pair {
  Operand a, b;
  // Register code takes the left operand from the stack, or both, or neither.
  bool usual() const { return a.stack || !b.stack; }
};
Pair operands(Gen& g, const std::vector<std::string_view>& w) {
  const size_t n = g.types.size();
  const bool both = ir::from_stack(w[1]) && ir::from_stack(w[2]);
  Pair p;
  p.a = operand(g, w[1], both ? n - 2 : n - 1);
  p.b = operand(g, w[2], n - 1);
  return p;
}

// The value of an operand as an instruction's source: a cell, or an immediate that fits.
std::string source(Gen& g, const Operand& o) {
  return o.constant ? num(o.value) : g.var_ref(std::string(o.text));
}

// rax = A, where A is not on the stack; for "^", the caller pops it.
void load_left(Gen& g, const Operand& a) {
  if (a.stack) return;
  g.ins("mov rax, " + source(g, a));
}

// The right operand where an instruction can take it: a cell, an imm32, or rbx.
std::string right(Gen& g, const Operand& b) {
  if (b.stack) return "rbx";
  if (b.constant && !b.fits_imm32()) {
    g.ins("mov rbx, " + num(b.value));
    return "rbx";
  }
  return b.constant ? num(b.value) : "qword " + source(g, b);
}

// Takes the operands that are on the stack into registers: rbx the right one, rax the left
// one. The top may still be in rax, left there by the line before.
void pop_operands(Gen& g, const Pair& p) {
  if (p.b.stack) {
    g.ins(g.top_in_rax ? "mov rbx, rax" : "pop rbx");
    g.top_in_rax = false;
  }
  if (p.a.stack) g.pop_top_into_rax();
}

// The result in rax stays there for the next line (Gen::top_in_rax).
void leave_in_rax(Gen& g, Kind k) {
  g.push_type(k);
  g.top_in_rax = true;
}


// Integer division of rax by rbx, as the integer template divides: by 0 the program's error,
// by -1 a wrap (quotient the negated left side, remainder 0). The quotient or the remainder
// is left in rax.
void divide(Gen& g, const Operand& b, bool remainder) {
  if (!(b.constant && b.value != 0)) {
    g.ins("test rbx, rbx");
    g.ins("jz kv_div0");
  }
  if (b.constant && b.value == -1) {
    g.ins(remainder ? "xor eax, eax" : "neg rax");
    return;
  }
  std::string wrap, done;
  if (!b.constant) {
    wrap = g.new_label();
    done = g.new_label();
    g.ins("cmp rbx, -1");
    g.ins("je " + wrap);
  }
  g.ins("cqo");
  g.ins("idiv rbx");
  if (remainder) g.ins("mov rax, rdx");
  if (!b.constant) {
    g.ins("jmp " + done);
    g.label(wrap + ":");
    g.ins(remainder ? "xor eax, eax" : "neg rax");
    g.label(done + ":");
  }
}

// rax = rax / d or rax % d for a constant d, |d| from 2 up, without a divide instruction
// (division.h); rcx keeps the left side.
void divide_by_constant(Gen& g, int64_t d, bool remainder) {
  const Magic m = signed_magic(d);
  g.ins("mov rcx, rax");
  g.ins("mov rax, " + num(m.multiplier));
  g.ins("imul rcx");
  if (d > 0 && m.multiplier < 0) g.ins("add rdx, rcx");
  if (d < 0 && m.multiplier > 0) g.ins("sub rdx, rcx");
  if (m.shift > 0) g.ins("sar rdx, " + num(m.shift));
  g.ins("mov rax, rdx");
  g.ins("shr rax, 63");
  g.ins("add rax, rdx");
  if (!remainder) return;
  if (d >= INT32_MIN && d <= INT32_MAX) {
    g.ins("imul rax, rax, " + num(d));
  } else {
    g.ins("mov rdx, " + num(d));
    g.ins("imul rax, rdx");
  }
  g.ins("sub rcx, rax");
  g.ins("mov rax, rcx");
}

bool magic_divisor(const Operand& b) {
  return b.constant && (b.value >= 2 || (b.value <= -2 && b.value != INT64_MIN));
}

// rax = A op B for integers; the operands on the stack are popped first.
void int_operation(Gen& g, std::string_view op, const Pair& p) {
  pop_operands(g, p);
  load_left(g, p.a);
  if ((op == "/" || op == "%") && magic_divisor(p.b)) {
    divide_by_constant(g, p.b.value, op == "%");
    return;
  }
  if (op == "/" || op == "%") {
    if (!p.b.stack) g.ins("mov rbx, " + source(g, p.b));
    divide(g, p.b, op == "%");
    return;
  }
  const std::string r = right(g, p.b);
  if (op == "+") {
    g.ins("add rax, " + r);
  } else if (op == "-") {
    g.ins("sub rax, " + r);
  } else if (op == "*") {
    g.ins(p.b.fits_imm32() ? "imul rax, rax, " + r : "imul rax, " + r);
  } else {
    g.ins("cmp rax, " + r);
  }
}

// xmm0 = A, xmm1 = B as floats (an integer converted); the operands on the stack popped first.
void float_operands(Gen& g, const Pair& p) {
  pop_operands(g, p);
  auto load = [&](const Operand& o, const char* xmm, const char* reg) {
    if (o.stack || o.constant) {
      if (o.constant) g.ins(std::string("mov ") + reg + ", " + num(o.value));
      g.ins(std::string(o.type.is(Kind::Float) && !o.constant ? "movq " : "cvtsi2sd ") + xmm + ", " + reg);
    } else {
      g.ins(std::string(o.type.is(Kind::Float) ? "movsd " : "cvtsi2sd ") + xmm + ", qword " + source(g, o));
    }
  };
  load(p.a, "xmm0", "rax");
  load(p.b, "xmm1", "rbx");
}

bool float_case(std::string_view op, const Pair& p) {
  return op != "%" && is_number(p.a) && is_number(p.b) && (p.a.type.is(Kind::Float) || p.b.type.is(Kind::Float));
}

void pop_stack_types(Gen& g, const Pair& p) {
  if (p.b.stack) g.pop_type();
  if (p.a.stack) g.pop_type();
}

bool int_or_dynamic(const Operand& o) { return o.type.is(Kind::Int) || o.type.is(Kind::Dynamic); }

// The place of a Dynamic operand's kind.
std::string kind_place(Gen& g, const Operand& o) {
  return o.stack ? g.kind_cell(o.pos) : g.var_kind_ref(std::string(o.text));
}

// Operands of which one or both have a kind known only at run time, where both may well be
// integers: the integer code after a check of their kinds, the basic lines otherwise. Both
// paths leave the stack alike. `fast` writes the integer code for the pair made integers;
// `slow` the basic lines.
template <typename Fast, typename Slow>
bool guarded(Gen& g, const Pair& p, Fast fast, Slow slow) {
  if (!p.usual() || !int_or_dynamic(p.a) || !int_or_dynamic(p.b)) return false;
  if (!p.a.type.is(Kind::Dynamic) && !p.b.type.is(Kind::Dynamic)) return false;
  const std::vector<Type> types = g.types;
  const bool pending = g.top_in_rax;
  const std::string n = std::to_string(g.label_counter++);
  const std::string other = "kv_x" + n + "_other", done = "kv_x" + n + "_done";
  std::string kept_kind;  // the store of r11 the general code alone needs
  for (const Operand* o : {&p.a, &p.b}) {
    if (!o->type.is(Kind::Dynamic)) continue;
    // An element read just before left its kind in r11 too (x_index). Both paths consume
    // the operand and the integer code knows its kind, so only the general code, which
    // reads the kind from its cell, stores it there.
    const std::string place = kind_place(g, *o);
    const std::string store = "    mov " + place + ", r11\r\n";
    const bool in_r11 = g.out.ends_with(store);
    if (in_r11) {
      g.out.resize(g.out.size() - store.size());
      kept_kind = store;
    }
    g.ins((in_r11 ? "cmp r11d, " : "cmp qword " + place + ", ") + num(layout::KV_KIND_INT));
    g.ins("jne " + other);
  }
  Pair ints = p;
  ints.a.type = ints.b.type = Type::of(Kind::Int);
  fast(ints);
  g.label(done + ":");
  // The general code goes to the routine's end, and comes back.
  const std::vector<Type> after = g.types;
  const bool after_pending = g.top_in_rax;
  std::string hot = std::move(g.out);
  g.out.clear();
  g.label(other + ":");
  g.out += kept_kind;
  g.types = types;
  g.top_in_rax = pending;
  slow();
  g.ins("jmp " + done);
  g.cold += g.out;
  g.out = std::move(hot);
  g.types = after;
  g.top_in_rax = after_pending;
  return true;
}

void x_bin(Gen& g, const std::vector<std::string_view>& w, bool guard = true);

// XBIN op A B: LOAD/CONST of each operand not "^", then BIN op.
void x_bin(Gen& g, const std::vector<std::string_view>& w, bool guard) {
  const std::string_view op = w[0];
  const Pair p = operands(g, w);
  const bool cheap = is_comparison(op) || op == "+" || op == "-" || op == "*";
  if (guard && cheap &&
      guarded(
          g, p,
          [&](const Pair& ints) {
            pop_stack_types(g, ints);
            int_operation(g, op, ints);
            if (is_comparison(op)) {
              g.ins(std::string("set") + int_cc(op) + " al");
              g.ins("movzx eax, al");
              leave_in_rax(g, Kind::Int);
            } else {
              leave_in_rax(g, Kind::Dynamic);
              g.ins("mov qword " + g.kind_cell(g.top()) + ", " + num(layout::KV_KIND_INT));
            }
          },
          [&] {
            x_bin(g, w, false);
            g.pop_top_into_rax();  // the basic lines pushed it; the fast path left it in rax
            g.top_in_rax = true;
          }))
    return;
  const bool known = is_comparison(op) || op == "+" || op == "-" || op == "*" || op == "/" || op == "%";
  if (known && p.usual() && is_int(p.a) && is_int(p.b)) {
    pop_stack_types(g, p);
    int_operation(g, op, p);
    if (is_comparison(op)) {
      g.ins(std::string("set") + int_cc(op) + " al");
      g.ins("movzx eax, al");
    }
    leave_in_rax(g, Kind::Int);
    return;
  }
  if (known && p.usual() && float_case(op, p)) {
    pop_stack_types(g, p);
    float_operands(g, p);
    if (is_comparison(op)) {
      g.ins("comisd xmm0, xmm1");
      g.ins(std::string("set") + float_cc(op) + " al");
      g.ins("movzx eax, al");
      leave_in_rax(g, Kind::Int);
      return;
    }
    const char* arith = op == "+" ? "addsd" : op == "-" ? "subsd" : op == "*" ? "mulsd" : "divsd";
    g.ins(std::string(arith) + " xmm0, xmm1");
    g.ins("movq rax, xmm0");
    leave_in_rax(g, Kind::Float);
    return;
  }
  if (!p.a.stack) basic(g, push_line(p.a));
  if (!p.b.stack) basic(g, push_line(p.b));
  basic(g, ir::line(Op::Bin, op));
}

// XJF / XJT op A B L: XBIN op A B, then JF / JT L.
void x_jump(Gen& g, const ir::Line& l, const std::vector<std::string_view>& w) {
  const std::string_view op = w[0];
  const bool if_false = l.op == Op::XJf;
  const std::string target = Gen::label_symbol(w[3]);
  const Pair p = operands(g, w);
  if (is_comparison(op) && p.usual() && is_int(p.a) && is_int(p.b)) {
    pop_stack_types(g, p);
    int_operation(g, op, p);
    g.ins(std::string("j") + (if_false ? int_not_cc(op) : int_cc(op)) + " " + target);
    return;
  }
  if (is_comparison(op) && p.usual() && float_case(op, p)) {
    pop_stack_types(g, p);
    float_operands(g, p);
    g.ins("comisd xmm0, xmm1");
    g.ins(std::string("j") + (if_false ? float_not_cc(op) : float_cc(op)) + " " + target);
    return;
  }
  auto basic_lines = [&] {
    x_bin(g, w, false);
    basic(g, ir::line(if_false ? Op::Jf : Op::Jt, w[3]));
  };
  if (is_comparison(op) && guarded(
                               g, p,
                               [&](const Pair& ints) {
                                 pop_stack_types(g, ints);
                                 int_operation(g, op, ints);
                                 g.ins(std::string("j") + (if_false ? int_not_cc(op) : int_cc(op)) + " " + target);
                               },
                               basic_lines))
    return;
  basic_lines();
}

// XINC N k: LOAD N, CONST k, BIN +, STORE N.
void x_inc(Gen& g, const ir::Line& l) {
  const std::string name(l.a);
  int64_t k = 0;
  parse_int(l.b, k);
  if (g.var_type(name).is(Kind::Int)) {
    if (k >= INT32_MIN && k <= INT32_MAX) {
      g.ins("add qword " + g.var_ref(name) + ", " + num(k));
    } else {
      g.ins("mov rax, " + num(k));
      g.ins("add " + g.var_ref(name) + ", rax");
    }
    g.record_var_type(name, Type::of(Kind::Int));
    return;
  }
  basic(g, ir::line(Op::Load, l.a));
  basic(g, ir::line(Op::Const, l.b));
  basic(g, ir::line(Op::Bin, "+"));
  basic(g, ir::line(Op::Store, l.a));
}

// XNEXT N L k: INEXT N L of a counting loop whose step is the constant k above 0.
void x_next(Gen& g, const ir::Line& l, const std::vector<std::string_view>& w) {
  if (g.loops.empty() || !g.loops.back().range) {
    basic(g, ir::line(Op::INext, w[0], w[1]));
    return;
  }
  int64_t k = 0;
  if (!parse_int(w[2], k) || k <= 0 || ir::from_stack(w[0]) || ir::is_constant(w[0])) return;
  g.ins("mov rax, " + g.loop_cell(0));
  g.ins("cmp rax, " + g.loop_cell(1));
  g.ins("jg " + Gen::label_symbol(w[1]));
  if (w[0] != "~") g.store_count(std::string(l.a));
  if (k == 1) {
    g.ins("inc rax");
  } else if (k <= INT32_MAX) {
    g.ins("add rax, " + num(k));
  } else {
    g.ins("add rax, " + g.loop_cell(2));
  }
  g.ins("mov " + g.loop_cell(0) + ", rax");
}

// XINDEX A B: LOAD A, LOAD/CONST B, INDEX; an element of a list read in place.
void x_index(Gen& g, const std::vector<std::string_view>& w) {
  if (ir::from_stack(w[0]) || ir::from_stack(w[1]) || ir::is_constant(w[0])) return;
  const Operand a = operand(g, w[0], 0), b = operand(g, w[1], 0);
  if (!a.type.is(Kind::List) || !(b.constant || is_int(b))) {
    basic(g, push_line(a));
    basic(g, push_line(b));
    basic(g, ir::line(Op::Index));
    return;
  }
  g.ins("mov rcx, " + source(g, a));
  g.ins("mov rdx, " + source(g, b));
  g.ins("cmp rdx, [rcx]");
  g.ins("jae kv_oob");
  g.ins("mov rax, [rcx+" + num(layout::KV_LIST_DATA) + "]");
  g.ins("mov r11, [rax-" + num(layout::KV_SLOT_KINDS) + "]");
  g.ins("movzx r11d, byte [r11+rdx]");
  g.ins("mov rax, [rax+rdx*8]");
  g.push_type(Kind::Dynamic);
  g.ins("mov " + g.kind_cell(g.top()) + ", r11");
  g.top_in_rax = true;
}

// XSETIDX A B: the value on top (perhaps still in rax) goes into element B of list A; the
// basic lines when A is not a list variable or B not an integer.
void x_setidx(Gen& g, const std::vector<std::string_view>& w) {
  if (ir::from_stack(w[0]) || ir::from_stack(w[1]) || ir::is_constant(w[0]) || g.types.empty()) return;
  const Operand a = operand(g, w[0], 0), b = operand(g, w[1], 0);
  if (!a.type.is(Kind::List) || !(b.constant || is_int(b))) {
    g.flush_top();
    basic(g, push_line(a));
    basic(g, push_line(b));
    g.coerce(g.top() - 1, Type::of(Kind::List));
    g.coerce(g.top(), Type::of(Kind::Int));
    const std::string kind = g.kind_operand(g.top() - 2);
    g.pop_types(3);
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("pop r8");
    g.ins("mov r9, " + kind);
    g.ins("call kv_list_set");
    return;
  }
  const std::string kind = g.kind_operand(g.top());
  g.pop_type();
  g.pop_top_into_rax();
  g.ins("mov r8, rax");
  g.ins("mov r9, " + kind);
  g.ins("mov rcx, " + source(g, a));
  g.ins("mov rdx, " + source(g, b));
  g.ins("call kv_list_set");
}

// XPUSH A: LOAD A or CONST k, the value left in rax for the line after.
void x_push(Gen& g, std::string_view a) {
  if (ir::from_stack(a)) return;
  const Operand o = operand(g, a, 0);
  g.ins("mov rax, " + source(g, o));
  g.push_type(o.constant ? Type::of(Kind::Int) : o.type);
  g.top_in_rax = true;
  if (o.type.is(Kind::Dynamic)) {
    g.ins("mov r11, " + g.var_kind_ref(std::string(a)));
    g.ins("mov " + g.kind_cell(g.top()) + ", r11");
  }
}

}  // namespace

// A malformed extended line (a constant that is no integer, a stack operand where none may
// stand) is skipped like an unknown opcode: emitasm never fails.
void translate_extended(Gen& g, const ir::Line& l) {
  const std::vector<std::string_view> w = ir::operands(l);
  for (std::string_view word : w)
    if (!well_formed(word)) return;
  int64_t k = 0;
  if (l.op == Op::XInc && (w.size() != 2 || !parse_int(w[1], k) || ir::from_stack(w[0]) || ir::is_constant(w[0]))) return;
  switch (l.op) {
    case Op::XBin:
      if (w.size() == 3) x_bin(g, w);
      break;
    case Op::XJf:
    case Op::XJt:
      if (w.size() == 4) x_jump(g, l, w);
      break;
    case Op::XInc:
      if (w.size() == 2) x_inc(g, l);
      break;
    case Op::XNext:
      if (w.size() == 3) x_next(g, l, w);
      break;
    case Op::XIndex:
      if (w.size() == 2) x_index(g, w);
      break;
    case Op::XSetIdx:
      if (w.size() == 2) x_setidx(g, w);
      break;
    case Op::XPush:
      if (w.size() == 1) x_push(g, w[0]);
      break;
    case Op::XCall:
      g.call(std::string(l.a), l.b, true);
      break;
    default: break;
  }
}

}  // namespace kv::gen
