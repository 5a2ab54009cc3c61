// The instruction template of every IR operation, and the table that dispatches a line to
// its template by opcode.
#include <array>
#include <string>

#include "gen.h"
#include "layout.h"

namespace kv::gen {

const char* int_cc(std::string_view op) {
  return op == "!=" ? "ne" : op == "<" ? "l" : op == ">" ? "g" : op == "<=" ? "le" : op == ">=" ? "ge" : "e";
}
const char* int_not_cc(std::string_view op) {
  return op == "!=" ? "e" : op == "<" ? "ge" : op == ">" ? "le" : op == "<=" ? "g" : op == ">=" ? "l" : "ne";
}
const char* float_cc(std::string_view op) {
  return op == "!=" ? "ne" : op == "<" ? "b" : op == ">" ? "a" : op == "<=" ? "be" : op == ">=" ? "ae" : "e";
}
const char* float_not_cc(std::string_view op) {
  return op == "!=" ? "e" : op == "<" ? "ae" : op == ">" ? "be" : op == "<=" ? "a" : op == ">=" ? "b" : "ne";
}
bool is_comparison(std::string_view op) {
  return op == "==" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=";
}

namespace {

using ir::Op;

std::string label_symbol(std::string_view op) { return Gen::label_symbol(op); }
std::string num(int64_t v) { return std::to_string(v); }

// A list header's element array, in rax: "[rax+16]".
const std::string kListData = "[rax+" + num(layout::KV_LIST_DATA) + "]";

// The types of the two operands of a two-operand operator, with the positions they hold.
struct Operands {
  size_t lp = 0, rp = 0;
  bool whole = false;  // both are on the type stack
};
Operands operands(const Gen& g) {
  Operands o;
  o.whole = g.types.size() >= 2;
  if (o.whole) {
    o.rp = g.types.size() - 1;
    o.lp = o.rp - 1;
  }
  return o;
}

// "+" with a text on either side: the number is written in its text form on its own side.
void join(Gen& g, const Type& L, const Type& R) {
  auto convert = [&](const Type& t) {
    if (t.is(Kind::Float)) {
      g.ins("movq xmm0, rcx");
      g.ins("call kv_dbl_to_str");
    } else {
      g.ins("call kv_int_to_str");
    }
  };
  if (L.is(Kind::Text) && R.is(Kind::Text)) {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("call kv_concat");
  } else if (L.is(Kind::Text)) {
    g.ins("pop rcx");
    convert(R);
    g.ins("mov rdx, rax");
    g.ins("pop rcx");
    g.ins("call kv_concat");
  } else {
    g.ins("pop rbx");
    g.ins("pop rcx");
    convert(L);
    g.ins("mov rcx, rax");
    g.ins("mov rdx, rbx");
    g.ins("call kv_concat");
  }
  g.ins("push rax");
  g.push_type(Kind::Text);
}

void float_bin(Gen& g, std::string_view op, const Type& L, const Type& R) {
  g.ins("pop rbx");
  g.ins("pop rax");
  g.ins(L.is(Kind::Float) ? "movq xmm0, rax" : "cvtsi2sd xmm0, rax");
  g.ins(R.is(Kind::Float) ? "movq xmm1, rbx" : "cvtsi2sd xmm1, rbx");
  const char* arith = op == "+"   ? "addsd xmm0, xmm1"
                      : op == "-" ? "subsd xmm0, xmm1"
                      : op == "*" ? "mulsd xmm0, xmm1"
                      : op == "/" ? "divsd xmm0, xmm1"
                                  : nullptr;
  if (arith) {
    g.ins(arith);
    g.ins("movq rax, xmm0");
    g.ins("push rax");
    g.push_type(Kind::Float);
  } else if (op == "%") {
    g.ins("movsd xmm2, xmm0");
    g.ins("divsd xmm0, xmm1");
    g.ins("cvttsd2si rax, xmm0");
    g.ins("cvtsi2sd xmm0, rax");
    g.ins("mulsd xmm0, xmm1");
    g.ins("movsd xmm1, xmm0");
    g.ins("movsd xmm0, xmm2");
    g.ins("subsd xmm0, xmm1");
    g.ins("movq rax, xmm0");
    g.ins("push rax");
    g.push_type(Kind::Float);
  } else {
    g.ins("comisd xmm0, xmm1");
    g.ins(std::string("set") + float_cc(op) + " al");
    g.ins("movzx eax, al");
    g.ins("push rax");
    g.push_type(Kind::Int);
  }
}

// rax op rbx into rax, for "+", "-", "*" and the comparisons (0 or 1).
void int_rax_rbx(Gen& g, std::string_view op) {
  if (op == "+") {
    g.ins("add rax, rbx");
  } else if (op == "-") {
    g.ins("sub rax, rbx");
  } else if (op == "*") {
    g.ins("imul rax, rbx");
  } else {
    g.ins("cmp rax, rbx");
    g.ins(std::string("set") + int_cc(op) + " al");
    g.ins("movzx eax, al");
  }
}

void int_bin(Gen& g, std::string_view op) {
  g.ins("pop rbx");
  g.ins("pop rax");
  if (op == "/" || op == "%") {
    g.ins("test rbx, rbx");
    g.ins("jz kv_div0");
    // Dividing by -1 is dividing the negated value by 1: the smallest integer wraps to
    // itself with remainder 0 instead of trapping in idiv.
    g.ins("mov rcx, rax");
    g.ins("neg rcx");
    g.ins("cmp rbx, -1");
    g.ins("cmove rax, rcx");
    g.ins("mov ecx, 1");
    g.ins("cmove rbx, rcx");
    g.ins("cqo");
    g.ins("idiv rbx");
    if (op == "%") g.ins("mov rax, rdx");
  } else {
    int_rax_rbx(g, op);
  }
  g.ins("push rax");
  g.push_type(Kind::Int);
}

int64_t dyn_operator(std::string_view op) {
  if (op == "+") return layout::KV_OP_ADD;
  if (op == "-") return layout::KV_OP_SUB;
  if (op == "*") return layout::KV_OP_MUL;
  if (op == "/") return layout::KV_OP_DIV;
  if (op == "%") return layout::KV_OP_MOD;
  if (op == "!=") return layout::KV_OP_NE;
  if (op == "<") return layout::KV_OP_LT;
  if (op == ">") return layout::KV_OP_GT;
  if (op == "<=") return layout::KV_OP_LE;
  if (op == ">=") return layout::KV_OP_GE;
  return layout::KV_OP_EQ;
}

// Integers on both sides: the integer template, inline, for "+", "-", "*" and the
// comparisons; the result is an integer.
void int_fast_path(Gen& g, std::string_view op, const Operands& o, const std::string& slow) {
  for (size_t pos : {o.lp, o.rp}) {
    if (!g.types[pos].is(Kind::Dynamic)) continue;
    g.ins("cmp qword " + g.kind_cell(pos) + ", " + num(layout::KV_KIND_INT));
    g.ins("jne " + slow);
  }
  g.ins("pop rbx");
  g.ins("pop rax");
  int_rax_rbx(g, op);
  g.ins("push rax");
}

bool integers_may_meet(const Gen& g, std::string_view op, const Operands& o) {
  if (op == "/" || op == "%") return false;
  for (size_t pos : {o.lp, o.rp})
    if (!g.types[pos].is(Kind::Dynamic) && !g.types[pos].is(Kind::Int)) return false;
  return true;
}

// An operator with a value of a kind known only at run time: kv_dyn_bin decides, after an
// inline path for the commonest case, two integers.
void dyn_bin(Gen& g, std::string_view op, const Operands& o) {
  const std::string kl = g.kind_operand(o.lp);
  const std::string kr = g.kind_operand(o.rp);
  const int64_t code = dyn_operator(op);
  const bool comparison = code >= layout::KV_OP_EQ;
  std::string slow, done;
  if (integers_may_meet(g, op, o)) {
    slow = g.new_label();
    done = g.new_label();
    int_fast_path(g, op, o, slow);
    if (!comparison) g.ins("mov qword " + g.kind_cell(o.lp) + ", " + num(layout::KV_KIND_INT));
    g.ins("jmp " + done);
    g.label(slow + ":");
  }
  g.pop_types(2);
  g.ins("pop r8");
  g.ins("pop rcx");
  g.ins("mov rdx, " + kl);
  g.ins("mov r9, " + kr);
  g.ins("mov r10d, " + num(code));
  g.ins("call kv_dyn_bin");
  g.ins("push rax");
  if (comparison) {
    g.push_type(Kind::Int);
  } else {
    g.push_type(Kind::Dynamic);
    g.ins("mov " + g.kind_cell(g.top()) + ", rdx");
  }
  if (!done.empty()) g.label(done + ":");
}

// "<", "<=", ">" or ">=" of two texts: their order by bytes, from the runtime.
void text_order(Gen& g, std::string_view op) {
  const char* cc = op == "<" ? "l" : op == "<=" ? "le" : op == ">" ? "g" : "ge";
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call kv_text_compare");
  g.ins("test rax, rax");
  g.ins(std::string("set") + cc + " al");
  g.ins("movzx eax, al");
  g.ins("push rax");
  g.push_type(Kind::Int);
}

void op_bin(Gen& g, const ir::Line& l) {
  const std::string_view op = l.a;
  const Operands o = operands(g);
  if (o.whole) {
    const Kind L = g.types[o.lp].kind, R = g.types[o.rp].kind;
    if (op == "+" && (L == Kind::Text || R == Kind::Text)) {
      // A list, or a value of a kind known only at run time, joins as its text form.
      if (L == Kind::List || L == Kind::Dynamic) g.coerce(o.lp, Type::of(Kind::Text));
      if (R == Kind::List || R == Kind::Dynamic) g.coerce(o.rp, Type::of(Kind::Text));
    } else if (L == Kind::Dynamic || R == Kind::Dynamic) {
      dyn_bin(g, op, o);
      return;
    }
  }
  Type R = g.pop_type();
  Type L = g.pop_type();
  if (op == "+" && (L.is(Kind::Text) || R.is(Kind::Text))) {
    join(g, L, R);
  } else if ((op == "==" || op == "!=") && L.is(Kind::Text) && R.is(Kind::Text)) {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("call kv_streq");
    if (op == "!=") g.ins("xor rax, 1");
    g.ins("push rax");
    g.push_type(Kind::Int);
  } else if ((op == "<" || op == "<=" || op == ">" || op == ">=") && L.is(Kind::Text) &&
             R.is(Kind::Text)) {
    text_order(g, op);
  } else if (L.is(Kind::Float) || R.is(Kind::Float)) {
    float_bin(g, op, L, R);
  } else {
    int_bin(g, op);
  }
}

// Writes the value at a position by its kind, with the printers of one stream.
struct Printers {
  const char* text;
  const char* integer;
  const char* list;
  const char* value;
};
Printers printers(bool err) {
  if (err) return {"call kv_print_err", "call kv_print_int_err", "call kv_print_list_err", "call kv_print_value_err"};
  return {"call kv_print_str", "call kv_print_int", "call kv_print_list", "call kv_print_value"};
}

// The value is in rcx already.
void print_by_kind(Gen& g, const Printers& p, const Type& t, size_t pos) {
  if (t.is(Kind::Text)) {
    g.ins(p.text);
  } else if (t.is(Kind::List)) {
    g.ins(p.list);
  } else if (t.is(Kind::Float)) {
    g.ins("movq xmm0, rcx");
    g.ins("call kv_dbl_to_str");
    g.ins("mov rcx, rax");
    g.ins(p.text);
  } else if (t.is(Kind::Dynamic)) {
    g.ins("mov rdx, " + g.kind_cell(pos));
    g.ins(p.value);
  } else {
    g.ins(p.integer);
  }
}

void op_log(Gen& g, const ir::Line& l) {
  const std::string_view level = l.a;
  size_t n = g.count_operand(l.b);
  const size_t base = g.types.size() - n;
  std::vector<Type> types = g.pop_types(n);
  bool err = level == "err" || level == "warn";
  const Printers p = printers(err);
  if (err) {
    g.ins("lea rcx, [" + g.str_label("[" + std::string(level) + "] ") + "]");
    g.ins("call kv_print_err");
  }
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      g.ins("lea rcx, [" + g.str_label(" ") + "]");
      g.ins(p.text);
    }
    g.ins("mov rcx, [rsp+" + num(8 * (n - 1 - i)) + "]");
    print_by_kind(g, p, types[i], base + i);
  }
  g.ins("lea rcx, [str_nl]");
  g.ins(p.text);
  if (n > 0) g.ins("add rsp, " + num(8 * n));
}

// A list literal of numbers with a float among them holds floats: its integers become
// floats, and so does every integer stored into it later.
bool holds_floats(const std::vector<Type>& types) {
  bool any_float = false;
  for (const Type& t : types) {
    if (!t.is(Kind::Int) && !t.is(Kind::Float)) return !types.empty() && types[0].is(Kind::Float);
    any_float = any_float || t.is(Kind::Float);
  }
  return any_float;
}

void op_list(Gen& g, const ir::Line& l) {
  size_t n = g.count_operand(l.a);
  const size_t base = g.types.size() - n;
  std::vector<Type> types = g.pop_types(n);
  const bool floats = holds_floats(types);
  bool kinds = false;
  for (const Type& t : types) kinds = kinds || !(t.is(Kind::Int) && !floats);
  g.ins("mov ecx, " + num(n < 4 ? 4 : n));
  g.ins("call kv_list_new");
  g.ins("mov r10, " + kListData);
  if (kinds) g.ins("mov r11, [r10-" + num(layout::KV_SLOT_KINDS) + "]");
  for (size_t i = n; i-- > 0;) {
    g.ins("pop rcx");
    Type t = types[i];
    if (floats && t.is(Kind::Int)) {
      g.ins("cvtsi2sd xmm0, rcx");
      g.ins("movq rcx, xmm0");
      t = Type::of(Kind::Float);
    }
    g.ins("mov [r10+" + num(8 * i) + "], rcx");
    if (t.is(Kind::Dynamic)) {
      g.ins("mov rdx, " + g.kind_cell(base + i));
      g.ins("mov [r11+" + num(i) + "], dl");
    } else if (!t.is(Kind::Int)) {
      g.ins("mov byte [r11+" + num(i) + "], " + num(runtime_kind(t.kind)));
    }
  }
  if (floats) g.ins("mov qword [rax+" + num(layout::KV_LIST_FLOATS) + "], 1");
  g.ins("mov qword [rax], " + num(n));
  g.ins("push rax");
  g.push_type(Kind::List);
}

void op_map(Gen& g, const ir::Line& l) {
  size_t n = g.count_operand(l.a, 2);
  const size_t base = g.types.size() - 2 * n;
  for (size_t i = 0; i < n; ++i) g.coerce(base + 2 * i, Type::of(Kind::Text));
  std::vector<std::string> value_kinds;
  for (size_t i = 0; i < n; ++i) value_kinds.push_back(g.kind_operand(base + 2 * i + 1));
  g.pop_types(2 * n);
  g.ins("mov ecx, 8");
  g.ins("call kv_map_new");
  g.ins("mov rbx, rax");
  for (size_t i = n; i-- > 0;) {
    g.ins("pop r8");
    g.ins("pop rdx");
    g.ins("mov r9, " + value_kinds[i]);
    g.ins("mov rcx, rbx");
    g.ins("call kv_map_set");
  }
  g.ins("push rbx");
  g.push_type(Kind::Map);
}

// Where a record field lives: its offset, its kind, and for a field of a kind known only at
// run time the offset of the slot that keeps its kind (after all the fields).
struct FieldPlace {
  size_t offset = 0;
  Type type;
  size_t kind_offset = 0;
};

std::vector<FieldPlace> record_layout(Gen& g, std::string_view record) {
  std::vector<FieldPlace> places;
  auto it = g.records.fields.find(std::string(record));
  if (it == g.records.fields.end()) return places;
  size_t dynamic = 0;
  for (size_t i = 0; i < it->second.size(); ++i) {
    FieldPlace p{8 * i, type_of_word(it->second[i].type, g.records), 0};
    if (p.type.is(Kind::Dynamic)) p.kind_offset = 8 * (it->second.size() + dynamic++);
    places.push_back(p);
  }
  return places;
}

size_t record_bytes(const std::vector<FieldPlace>& places) {
  size_t bytes = 8 * places.size();
  for (const FieldPlace& p : places)
    if (p.type.is(Kind::Dynamic)) bytes += 8;
  return bytes;
}

// A field that is not found is at 0 and an integer.
FieldPlace field_of(Gen& g, std::string_view record, std::string_view field) {
  auto it = g.records.field_index.find(std::string(record) + '\n' + std::string(field));
  if (it == g.records.field_index.end()) return FieldPlace{};
  return record_layout(g, record)[it->second];
}

void op_new(Gen& g, const ir::Line& l) {
  const std::vector<FieldPlace> places = record_layout(g, l.a);
  size_t f = places.size();
  const size_t base = g.types.size() - std::min(f, g.types.size());
  if (g.types.size() >= f)
    for (size_t i = 0; i < f; ++i) g.coerce(base + i, places[i].type);
  g.pop_types(f);
  g.ins("mov ecx, " + num(record_bytes(places)));
  g.ins("call kv_alloc");
  for (size_t i = f; i-- > 0;) {
    g.ins("pop r10");
    g.ins("mov [rax+" + num(places[i].offset) + "], r10");
    if (places[i].type.is(Kind::Dynamic)) {
      g.ins("mov r10, " + g.kind_cell(base + i));
      g.ins("mov [rax+" + num(places[i].kind_offset) + "], r10");
    }
  }
  g.ins("push rax");
  g.push_type(Type::record_named(l.a));
}

void op_fget(Gen& g, const ir::Line& l) {
  const size_t pos = g.top();
  g.pop_type();
  const FieldPlace f = field_of(g, l.a, l.b);
  g.ins("pop rcx");
  g.ins("mov rax, [rcx+" + num(f.offset) + "]");
  if (f.type.is(Kind::Dynamic)) {
    g.ins("mov r10, [rcx+" + num(f.kind_offset) + "]");
    g.ins("mov " + g.kind_cell(pos) + ", r10");
  }
  g.ins("push rax");
  g.push_type(f.type);
}

void op_fset(Gen& g, const ir::Line& l) {
  const FieldPlace f = field_of(g, l.a, l.b);
  g.coerce(g.top(), f.type);
  const std::string kind = g.kind_operand(g.top());
  g.pop_types(2);
  g.ins("pop r10");
  g.ins("pop rcx");
  g.ins("mov [rcx+" + num(f.offset) + "], r10");
  if (f.type.is(Kind::Dynamic)) {
    g.ins("mov r10, " + kind);
    g.ins("mov [rcx+" + num(f.kind_offset) + "], r10");
  }
}

void op_range(Gen& g, const ir::Line&) {
  g.pop_types(3);
  g.loops.push_back(LoopEntry{true});
  std::string G = g.new_label();
  g.ins("pop rcx");
  g.ins("pop rbx");
  g.ins("pop rax");
  g.ins("mov r10, 9223372036854775807");
  g.ins("cmp rcx, r10");
  g.ins("jne " + G);
  g.ins("mov rcx, 1");
  g.ins("cmp rax, rbx");
  g.ins("jle " + G);
  g.ins("mov rcx, -1");
  g.label(G + ":");
  g.ins("mov " + g.loop_cell(0) + ", rax");
  g.ins("mov " + g.loop_cell(1) + ", rbx");
  g.ins("mov " + g.loop_cell(2) + ", rcx");
}

void op_iter(Gen& g, const ir::Line&) {
  g.coerce(g.top(), Type::of(Kind::List));
  g.pop_type();
  g.loops.push_back(LoopEntry{false});
  g.ins("pop rax");
  g.ins("mov r10, [rax]");
  g.ins("mov r11, " + kListData);
  g.ins("mov qword " + g.loop_cell(0) + ", 0");
  g.ins("mov " + g.loop_cell(1) + ", r10");
  g.ins("mov " + g.loop_cell(2) + ", r11");
}

// The element of a list loop, in rcx with its kind in r11, into a variable: kept with its
// kind, or made the kind the variable already has.
void store_element(Gen& g, const std::string& var) {
  const Type t = g.has_var_type(var) ? g.var_type(var) : Type::of(Kind::Dynamic);
  const char* convert = t.is(Kind::Float)  ? "call kv_dyn_to_float"
                        : t.is(Kind::Text) ? "call kv_value_to_str"
                                           : nullptr;
  if (t.is(Kind::Dynamic)) {
    g.ins("mov " + g.var_ref(var) + ", rcx");
    g.ins("mov " + g.var_kind_ref(var) + ", r11");
  } else if (t.is(Kind::Int)) {
    // Only a float changes, as kv_dyn_to_int does.
    const std::string skip = g.new_label();
    g.ins("cmp r11d, " + num(layout::KV_KIND_FLOAT));
    g.ins("jne " + skip);
    g.ins("movq xmm0, rcx");
    g.ins("cvttsd2si rcx, xmm0");
    g.label(skip + ":");
    g.ins("mov " + g.var_ref(var) + ", rcx");
  } else if (convert) {
    g.ins("mov rdx, r11");
    g.ins(convert);
    g.ins("mov " + g.var_ref(var) + ", rax");
  } else {
    g.ins("mov " + g.var_ref(var) + ", rcx");
  }
  g.record_var_type(var, t);
}

// INEXT with no open loop has no cells to read: it writes nothing.
void op_inext(Gen& g, const ir::Line& l) {
  if (g.loops.empty()) return;
  const LoopEntry& loop = g.loops.back();
  std::string var(l.a);
  std::string exit = label_symbol(l.b);
  if (loop.range) {
    std::string A = g.new_label();
    std::string B = g.new_label();
    g.ins("mov rax, " + g.loop_cell(0));
    g.ins("mov rbx, " + g.loop_cell(1));
    g.ins("mov rcx, " + g.loop_cell(2));
    g.ins("test rcx, rcx");
    g.ins("js " + A);
    g.ins("cmp rax, rbx");
    g.ins("jg " + exit);
    g.ins("jmp " + B);
    g.label(A + ":");
    g.ins("cmp rax, rbx");
    g.ins("jl " + exit);
    g.label(B + ":");
    if (var != "~") g.store_count(var);
    g.ins("add rax, rcx");
    g.ins("mov " + g.loop_cell(0) + ", rax");
  } else {
    g.ins("mov rax, " + g.loop_cell(0));
    g.ins("cmp rax, " + g.loop_cell(1));
    g.ins("jae " + exit);
    g.ins("mov r10, " + g.loop_cell(2));
    g.ins("mov rcx, [r10+rax*8]");
    if (var != "~") {
      g.ins("mov r11, [r10-" + num(layout::KV_SLOT_KINDS) + "]");
      g.ins("movzx r11d, byte [r11+rax]");
    }
    g.ins("inc rax");
    g.ins("mov " + g.loop_cell(0) + ", rax");
    if (var != "~") store_element(g, var);
  }
}

}  // namespace

void Gen::store_count(const std::string& var) {
  const Type t = has_var_type(var) ? var_type(var) : Type{};
  if (t.is(Kind::Float)) {
    ins("cvtsi2sd xmm0, rax");
    ins("movq " + var_ref(var) + ", xmm0");
  } else {
    ins("mov " + var_ref(var) + ", rax");
    if (t.is(Kind::Dynamic)) ins("mov qword " + var_kind_ref(var) + ", " + num(layout::KV_KIND_INT));
  }
  record_var_type(var, t);
}

namespace {

void op_ipop(Gen& g, const ir::Line&) {
  if (!g.loops.empty()) g.loops.pop_back();
}

void op_label(Gen& g, const ir::Line& l) { g.label(label_symbol(l.text) + ":"); }

void op_const(Gen& g, const ir::Line& l) {
  if (l.a == "true") {
    g.ins("mov rax, 1");
  } else if (l.a == "false") {
    g.ins("xor eax, eax");
  } else if (l.a == "none") {
    g.ins("mov rax, 9223372036854775807");
  } else {
    g.ins("mov rax, " + std::string(l.a));
  }
  g.ins("push rax");
  g.push_type(Kind::Int);
}

void op_constf(Gen& g, const ir::Line& l) {
  g.ins("mov rax, [dbl_" + num(g.floats.intern(l.a)) + "]");
  g.ins("push rax");
  g.push_type(Kind::Float);
}

void op_str(Gen& g, const ir::Line& l) {
  g.ins("lea rax, [" + g.str_label(l.rest) + "]");
  g.ins("push rax");
  g.push_type(Kind::Text);
}

void op_load(Gen& g, const ir::Line& l) {
  std::string name(l.a);
  const Type t = g.var_type(name);
  g.ins("mov rax, " + g.var_ref(name));
  g.ins("push rax");
  g.push_type(t);
  if (t.is(Kind::Dynamic)) {
    g.ins("mov rax, " + g.var_kind_ref(name));
    g.ins("mov " + g.kind_cell(g.top()) + ", rax");
  }
}

// STORE, FIX and DECL: a variable keeps the kind of its first typed write (for DECL, the
// declared one), and every value stored into it is made that kind.
void op_store(Gen& g, const ir::Line& l) {
  std::string name(l.op == Op::Decl ? l.b : l.a);
  const Type value = g.types.empty() ? Type{} : g.types.back();
  Type target = value;
  if (g.has_var_type(name)) {
    target = g.var_type(name);
  } else if (l.op == Op::Decl) {
    target = kind_of_word(l.a, g.records).value_or(value);
  }
  const bool known = value.is_static();
  if (!target.is(Kind::Dynamic) && target.kind != value.kind) {
    g.flush_top();  // the conversion works on the stack
    g.coerce(g.top(), target);
  }
  const std::string kind = g.kind_operand(g.top());
  g.pop_type();
  g.pop_top_into_rax();
  g.ins("mov " + g.var_ref(name) + ", rax");
  if (target.is(Kind::Dynamic)) {
    if (known) {
      g.ins("mov qword " + g.var_kind_ref(name) + ", " + kind);
    } else {
      g.ins("mov rax, " + kind);
      g.ins("mov " + g.var_kind_ref(name) + ", rax");
    }
  }
  g.record_var_type(name, target);
}

void op_pop(Gen& g, const ir::Line&) {
  g.pop_type();
  if (g.top_in_rax)
    g.top_in_rax = false;
  else
    g.ins("add rsp, 8");
}

void op_dup(Gen& g, const ir::Line&) {
  Type t = g.types.empty() ? Type{} : g.types.back();
  const size_t from = g.top();
  g.ins("mov rax, [rsp]");
  g.ins("push rax");
  g.push_type(t);
  if (t.is(Kind::Dynamic)) {
    g.ins("mov rax, " + g.kind_cell(from));
    g.ins("mov " + g.kind_cell(g.top()) + ", rax");
  }
}

void op_neg(Gen& g, const ir::Line&) {
  const size_t pos = g.top();
  Type t = g.pop_type();
  if (t.is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("pxor xmm1, xmm1");
    g.ins("subsd xmm1, xmm0");
    g.ins("movq rax, xmm1");
    g.ins("push rax");
  } else if (t.is(Kind::Dynamic)) {
    g.ins("pop rcx");
    g.ins("mov rdx, " + g.kind_cell(pos));
    g.ins("call kv_dyn_neg");
    g.ins("push rax");
  } else {
    g.ins("pop rax");
    g.ins("neg rax");
    g.ins("push rax");
  }
  g.push_type(t);
}

void op_not_bool(Gen& g, const ir::Line& l) {
  g.pop_type();
  g.ins("pop rax");
  g.ins("test rax, rax");
  g.ins(l.op == Op::Not ? "sete al" : "setne al");
  g.ins("movzx eax, al");
  g.ins("push rax");
  g.push_type(Kind::Int);
}

void op_index(Gen& g, const ir::Line&) {
  const Operands o = operands(g);
  if (o.whole) g.coerce(o.rp, Type::of(Kind::Int));
  const Type left = o.whole ? g.types[o.lp] : Type{};
  const std::string base_kind = o.whole ? g.kind_operand(o.lp) : "0";
  g.pop_types(2);
  if (left.is(Kind::Text)) {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("call kv_text_index");
    g.ins("push rax");
    g.push_type(Kind::Text);
    return;
  }
  if (left.is(Kind::List) || left.is(Kind::Int)) {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("call kv_list_get");
  } else {
    // A value that may not be a list: kv_dyn_index looks at its kind.
    g.ins("pop r8");
    g.ins("pop rcx");
    g.ins("mov rdx, " + base_kind);
    g.ins("call kv_dyn_index");
  }
  g.ins("push rax");
  g.push_type(Kind::Dynamic);
  g.ins("mov " + g.kind_cell(g.top()) + ", rdx");
}

void op_setidx(Gen& g, const ir::Line&) {
  if (g.types.size() >= 3) {
    g.coerce(g.top() - 2, Type::of(Kind::List));
    g.coerce(g.top() - 1, Type::of(Kind::Int));
  }
  const std::string kind = g.kind_operand(g.top());
  g.pop_types(3);
  g.ins("pop r8");
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("mov r9, " + kind);
  g.ins("call kv_list_set");
}

void op_jmp(Gen& g, const ir::Line& l) { g.ins("jmp " + label_symbol(l.a)); }

void op_jump_if(Gen& g, const ir::Line& l) {
  g.pop_type();
  g.pop_top_into_rax();
  g.ins("test rax, rax");
  g.ins((l.op == Op::Jf ? "jz " : "jnz ") + label_symbol(l.a));
}

void op_trypush(Gen& g, const ir::Line& l) {
  g.ins("lea rcx, [" + label_symbol(l.a) + "]");
  g.ins("call kv_exc_push");
}

void op_trypop(Gen& g, const ir::Line&) { g.ins("call kv_exc_pop"); }

void op_tostr(Gen& g, const ir::Line&) {
  Type t = g.types.empty() ? Type{} : g.types.back();
  if (t.is(Kind::Text)) return;
  if (t.is(Kind::List) || t.is(Kind::Dynamic)) {
    g.coerce(g.top(), Type::of(Kind::Text));
    return;
  }
  g.pop_type();
  if (t.is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("call kv_dbl_to_str");
  } else {
    g.ins("pop rcx");
    g.ins("call kv_int_to_str");
  }
  g.ins("push rax");
  g.push_type(Kind::Text);
}

void op_call(Gen& g, const ir::Line& l) { g.call(std::string(l.a), l.b); }

void epilogue(Gen& g) {
  g.ins("mov rsp, rbp");
  g.ins("pop rbp");
  g.ins("ret");
}

// A routine's result leaves in rax, made the routine's result kind; a result of a kind
// known only at run time has its kind in rdx.
void op_ret(Gen& g, const ir::Line&) {
  if (!g.types.empty() && g.types.back().kind != g.result.kind) {
    g.flush_top();  // the conversion works on the stack
    g.coerce(g.top(), g.result);
  }
  const std::string kind = g.kind_operand(g.top());
  g.pop_type();
  g.pop_top_into_rax();
  if (g.result.is(Kind::Dynamic)) g.ins("mov rdx, " + kind);
  if (g.coroutine) {
    g.ins("call kv_coro_finish");
  } else {
    epilogue(g);
  }
}

void op_retn(Gen& g, const ir::Line&) {
  if (g.coroutine) {
    g.ins("call kv_coro_finish");
  } else {
    g.ins("xor eax, eax");
    if (g.result.is(Kind::Dynamic)) g.ins("xor edx, edx");
    epilogue(g);
  }
}

void op_halt(Gen& g, const ir::Line&) {
  g.ins("xor eax, eax");
  epilogue(g);
}

void op_spawn(Gen& g, const ir::Line& l) {
  g.ins("lea rcx, [kv_fn_" + std::string(l.a) + "]");
  g.ins("call kv_coro_spawn");
}

void op_yield(Gen& g, const ir::Line&) { g.ins("call kv_coro_yield"); }

// Declarations (read by the scans), framing and unknown opcodes write nothing here.
void op_nothing(Gen&, const ir::Line&) {}

using Handler = void (*)(Gen&, const ir::Line&);

constexpr std::array<Handler, ir::kOpCount + 1> handlers() {
  std::array<Handler, ir::kOpCount + 1> h{};
  for (Handler& each : h) each = op_nothing;
  auto set = [&h](Op op, Handler fn) { h[static_cast<size_t>(op)] = fn; };
  set(Op::Label, op_label);
  set(Op::Const, op_const);
  set(Op::ConstF, op_constf);
  set(Op::Str, op_str);
  set(Op::Load, op_load);
  set(Op::Store, op_store);
  set(Op::Decl, op_store);
  set(Op::Fix, op_store);
  set(Op::Pop, op_pop);
  set(Op::Dup, op_dup);
  set(Op::Neg, op_neg);
  set(Op::Not, op_not_bool);
  set(Op::Bool, op_not_bool);
  set(Op::Bin, op_bin);
  set(Op::Index, op_index);
  set(Op::SetIdx, op_setidx);
  set(Op::ToStr, op_tostr);
  set(Op::List, op_list);
  set(Op::Map, op_map);
  set(Op::New, op_new);
  set(Op::FGet, op_fget);
  set(Op::FSet, op_fset);
  set(Op::Jmp, op_jmp);
  set(Op::Jf, op_jump_if);
  set(Op::Jt, op_jump_if);
  set(Op::Range, op_range);
  set(Op::Iter, op_iter);
  set(Op::INext, op_inext);
  set(Op::IPop, op_ipop);
  set(Op::TryPush, op_trypush);
  set(Op::TryPop, op_trypop);
  set(Op::Log, op_log);
  set(Op::Call, op_call);
  set(Op::Ret, op_ret);
  set(Op::RetN, op_retn);
  set(Op::Halt, op_halt);
  set(Op::Spawn, op_spawn);
  set(Op::Yield, op_yield);
  for (size_t i = 0; i < ir::kOpCount; ++i)
    if (ir::is_extended(static_cast<Op>(i))) h[i] = translate_extended;
  return h;
}

constexpr std::array<Handler, ir::kOpCount + 1> kHandlers = handlers();

}  // namespace

namespace {

// Lines that take the top of the stack from rax when an extended line left it there: the
// extended ones only when their left operand is "^" (their second word).
bool takes_top(const ir::Line& l) {
  switch (l.op) {
    case Op::Store: case Op::Decl: case Op::Fix: case Op::Pop: case Op::Jf: case Op::Jt: case Op::Ret:
      return true;
    case Op::XBin: case Op::XJf: case Op::XJt:
      return ir::from_stack(l.b);
    default:
      return false;
  }
}

}  // namespace

void Gen::translate(const ir::Line& line) {
  if (!takes_top(line)) flush_top();
  kHandlers[static_cast<size_t>(line.op)](*this, line);
}

}  // namespace kv::gen
