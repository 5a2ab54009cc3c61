// The instruction template of every IR operation, and the table that dispatches a line to
// its template by opcode.
#include <array>
#include <string>

#include "gen.h"
#include "layout.h"

namespace kv::gen {
namespace {

using ir::Op;

std::string label_symbol(std::string_view op) {
  // ".L7" is written "kv_L7": the prefix and the operand without its first character.
  return "kv_" + std::string(op.empty() ? op : op.substr(1));
}

std::string cell(size_t distance) { return "[rbp-" + std::to_string(distance) + "]"; }

// A list header's element array, in rax: "[rax+16]".
const std::string kListData = "[rax+" + std::to_string(layout::KV_LIST_DATA) + "]";

// "+" with a text on either side: the number is written in its text form on its own side.
void join(Gen& g, const Type& L, const Type& R, bool maybe_number) {
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
  } else if (maybe_number && !L.is(Kind::Float) && !R.is(Kind::Float)) {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins(L.is(Kind::Text) ? "mov r8d, 1" : "xor r8d, r8d");
    g.ins("call kv_join_int");
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
  g.push_type(maybe_number ? Kind::MaybeText : Kind::Text);
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
    const char* cc = op == "!=" ? "ne" : op == "<" ? "b" : op == ">" ? "a" : op == "<=" ? "be" : op == ">=" ? "ae" : "e";
    g.ins("comisd xmm0, xmm1");
    g.ins(std::string("set") + cc + " al");
    g.ins("movzx eax, al");
    g.ins("push rax");
    g.push_type(Kind::Int);
  }
}

void int_bin(Gen& g, std::string_view op) {
  g.ins("pop rbx");
  g.ins("pop rax");
  if (op == "+") {
    g.ins("add rax, rbx");
  } else if (op == "-") {
    g.ins("sub rax, rbx");
  } else if (op == "*") {
    g.ins("imul rax, rbx");
  } else if (op == "/" || op == "%") {
    g.ins("test rbx, rbx");
    g.ins("jz kv_div0");
    g.ins("cqo");
    g.ins("idiv rbx");
    if (op == "%") g.ins("mov rax, rdx");
  } else {
    const char* cc = op == "!=" ? "ne" : op == "<" ? "l" : op == ">" ? "g" : op == "<=" ? "le" : op == ">=" ? "ge" : "e";
    g.ins("cmp rax, rbx");
    g.ins(std::string("set") + cc + " al");
    g.ins("movzx eax, al");
  }
  g.ins("push rax");
  g.push_type(Kind::Int);
}

// "<", "<=", ">" or ">=" of two texts: their order by bytes, from the runtime.
void text_order(Gen& g, std::string_view op) {
  const char* cc = op == "<" ? "l" : op == "<=" ? "le" : op == ">" ? "g" : "ge";
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call kv_strcmp");
  g.ins("test rax, rax");
  g.ins(std::string("set") + cc + " al");
  g.ins("movzx eax, al");
  g.ins("push rax");
  g.push_type(Kind::Int);
}

void op_bin(Gen& g, const ir::Line& l) {
  const std::string_view op = l.a;
  Type R = g.pop_raw_type();
  Type L = g.pop_raw_type();
  // An element of a list taken to hold texts may be a number: "+" of it and an integer asks
  // the runtime, which adds a number and joins a text; kv_concat and kv_streq tell a number
  // from a text themselves. The result may still be a number, so it stays MaybeText.
  const bool maybe_number = L.is(Kind::MaybeText) || R.is(Kind::MaybeText);
  if (L.is(Kind::MaybeText)) L.kind = Kind::Text;
  if (R.is(Kind::MaybeText)) R.kind = Kind::Text;
  if (op == "+" && (L.is(Kind::Text) || R.is(Kind::Text))) {
    join(g, L, R, maybe_number);
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

void op_log(Gen& g, const ir::Line& l) {
  const std::string_view level = l.a;
  size_t n = g.count_operand(l.b);
  std::vector<Type> types = g.pop_types(n);
  bool err = level == "err" || level == "warn";
  const char* text_printer = err ? "call kv_print_err" : "call kv_print_str";
  const char* int_printer = err ? "call kv_print_int_err" : "call kv_print_int";
  const char* list_printer = err ? "call kv_print_list_err" : "call kv_print_list";
  if (err) {
    g.ins("lea rcx, [" + g.str_label("[" + std::string(level) + "] ") + "]");
    g.ins("call kv_print_err");
  }
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      g.ins("lea rcx, [" + g.str_label(" ") + "]");
      g.ins(text_printer);
    }
    g.ins("mov rcx, [rsp+" + std::to_string(8 * (n - 1 - i)) + "]");
    const Type& t = types[i];
    if (t.is(Kind::Text)) {
      g.ins(text_printer);
    } else if (t.is_list()) {
      g.ins(t.is(Kind::TextList) ? "mov edx, 1" : "xor edx, edx");
      g.ins(list_printer);
    } else if (t.is(Kind::Float)) {
      g.ins("movq xmm0, rcx");
      g.ins("call kv_dbl_to_str");
      g.ins("mov rcx, rax");
      g.ins(text_printer);
    } else {
      g.ins(int_printer);
    }
  }
  g.ins("lea rcx, [str_nl]");
  g.ins(text_printer);
  if (n > 0) g.ins("add rsp, " + std::to_string(8 * n));
}

void op_list(Gen& g, const ir::Line& l) {
  size_t n = g.count_operand(l.a);
  std::vector<Type> types = g.pop_types(n);
  g.ins("mov ecx, " + std::to_string(n < 4 ? 4 : n));
  g.ins("call kv_list_new");
  g.ins("mov r10, " + kListData);
  for (size_t i = n; i-- > 0;) {
    g.ins("pop rcx");
    g.ins("mov [r10+" + std::to_string(8 * i) + "], rcx");
  }
  g.ins("mov qword [rax], " + std::to_string(n));
  g.ins("push rax");
  g.push_type(n > 0 && types[0].is(Kind::Text) ? Kind::TextList : Kind::List);
}

void op_map(Gen& g, const ir::Line& l) {
  size_t n = g.count_operand(l.a, 2);
  g.pop_types(2 * n);
  g.ins("mov ecx, 8");
  g.ins("call kv_map_new");
  g.ins("mov rbx, rax");
  for (size_t i = 0; i < n; ++i) {
    g.ins("pop r8");
    g.ins("pop rdx");
    g.ins("mov rcx, rbx");
    g.ins("call kv_map_set");
  }
  g.ins("push rbx");
  g.push_type(Kind::Map);
}

void op_new(Gen& g, const ir::Line& l) {
  auto it = g.records.fields.find(std::string(l.a));
  size_t f = it == g.records.fields.end() ? 0 : it->second.size();
  g.pop_types(f);
  g.ins("mov ecx, " + std::to_string(8 * f));
  g.ins("call kv_alloc");
  for (size_t i = f; i-- > 0;) {
    g.ins("pop r10");
    g.ins("mov [rax+" + std::to_string(8 * i) + "], r10");
  }
  g.ins("push rax");
  g.push_type(Type::record_named(l.a));
}

// Offset and type of a record field; a field that is not found is at 0 and an integer.
std::pair<size_t, Type> field_of(Gen& g, std::string_view record, std::string_view field) {
  auto it = g.records.field_index.find(std::string(record) + '\n' + std::string(field));
  if (it == g.records.field_index.end()) return {0, Type{}};
  const Field& f = g.records.fields[std::string(record)][it->second];
  return {8 * it->second, type_of_word(f.type, g.records)};
}

void op_fget(Gen& g, const ir::Line& l) {
  g.pop_type();
  auto [offset, type] = field_of(g, l.a, l.b);
  g.ins("pop rcx");
  g.ins("mov rax, [rcx+" + std::to_string(offset) + "]");
  g.ins("push rax");
  g.push_type(type);
}

void op_fset(Gen& g, const ir::Line& l) {
  g.pop_types(2);
  size_t offset = field_of(g, l.a, l.b).first;
  g.ins("pop r10");
  g.ins("pop rcx");
  g.ins("mov [rcx+" + std::to_string(offset) + "], r10");
}

// Loop cells of the current depth d: distances 8(L+3(d-1)+1..3) below rbp.
size_t loop_cell(const Gen& g, size_t which) { return 8 * (g.local_count + 3 * (g.loops.size() - 1) + which + 1); }

void op_range(Gen& g, const ir::Line&) {
  g.pop_types(3);
  g.loops.push_back(LoopEntry{true, Type{}});
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
  g.ins("mov " + cell(loop_cell(g, 0)) + ", rax");
  g.ins("mov " + cell(loop_cell(g, 1)) + ", rbx");
  g.ins("mov " + cell(loop_cell(g, 2)) + ", rcx");
}

void op_iter(Gen& g, const ir::Line&) {
  Type t = g.pop_type();
  g.loops.push_back(LoopEntry{false, Type::of(t.is(Kind::TextList) ? Kind::MaybeText : Kind::Int)});
  g.ins("pop rax");
  g.ins("mov r10, [rax]");
  g.ins("mov r11, " + kListData);
  g.ins("mov qword " + cell(loop_cell(g, 0)) + ", 0");
  g.ins("mov " + cell(loop_cell(g, 1)) + ", r10");
  g.ins("mov " + cell(loop_cell(g, 2)) + ", r11");
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
    g.ins("mov rax, " + cell(loop_cell(g, 0)));
    g.ins("mov rbx, " + cell(loop_cell(g, 1)));
    g.ins("mov rcx, " + cell(loop_cell(g, 2)));
    g.ins("test rcx, rcx");
    g.ins("js " + A);
    g.ins("cmp rax, rbx");
    g.ins("jg " + exit);
    g.ins("jmp " + B);
    g.label(A + ":");
    g.ins("cmp rax, rbx");
    g.ins("jl " + exit);
    g.label(B + ":");
    if (var != "~") g.ins("mov " + g.var_ref(var) + ", rax");
    g.ins("add rax, rcx");
    g.ins("mov " + cell(loop_cell(g, 0)) + ", rax");
  } else {
    g.ins("mov rax, " + cell(loop_cell(g, 0)));
    g.ins("cmp rax, " + cell(loop_cell(g, 1)));
    g.ins("jae " + exit);
    g.ins("mov r10, " + cell(loop_cell(g, 2)));
    g.ins("mov rcx, [r10+rax*8]");
    g.ins("inc rax");
    g.ins("mov " + cell(loop_cell(g, 0)) + ", rax");
    if (var != "~") g.ins("mov " + g.var_ref(var) + ", rcx");
  }
  if (var != "~") g.record_var_type(var, loop.yields);
}

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
  g.ins("mov rax, [dbl_" + std::to_string(g.floats.intern(l.a)) + "]");
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
  g.ins("mov rax, " + g.var_ref(name));
  g.ins("push rax");
  g.push_type(g.var_type(name));
}

// STORE, FIX and DECL: the variable keeps the kind of its first typed write.
void op_store(Gen& g, const ir::Line& l) {
  std::string name(l.op == Op::Decl ? l.b : l.a);
  Type t = g.pop_raw_type();
  if (l.op == Op::Decl) t = declared_type(l.a, t);
  g.ins("pop rax");
  g.ins("mov " + g.var_ref(name) + ", rax");
  g.record_var_type(name, t);
}

void op_pop(Gen& g, const ir::Line&) {
  g.pop_type();
  g.ins("add rsp, 8");
}

void op_dup(Gen& g, const ir::Line&) {
  Type t = g.types.empty() ? Type{} : g.types.back();
  g.ins("mov rax, [rsp]");
  g.ins("push rax");
  g.push_type(t);
}

void op_neg(Gen& g, const ir::Line&) {
  Type t = g.pop_type();
  if (t.is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("pxor xmm1, xmm1");
    g.ins("subsd xmm1, xmm0");
    g.ins("movq rax, xmm1");
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
  g.pop_type();
  Type left = g.pop_type();
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins(left.is(Kind::Text) ? "call kv_text_index" : "call kv_list_get");
  g.ins("push rax");
  g.push_type(left.is(Kind::Text) ? Kind::Text : left.is(Kind::TextList) ? Kind::MaybeText : Kind::Int);
}

void op_setidx(Gen& g, const ir::Line&) {
  g.pop_types(3);
  g.ins("pop r8");
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call kv_list_set");
}

void op_jmp(Gen& g, const ir::Line& l) { g.ins("jmp " + label_symbol(l.a)); }

void op_jump_if(Gen& g, const ir::Line& l) {
  g.pop_type();
  g.ins("pop rax");
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
  if (t.is(Kind::Text) || t.is(Kind::MaybeText)) return;
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

void op_ret(Gen& g, const ir::Line&) {
  g.pop_type();
  g.ins("pop rax");
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
  return h;
}

constexpr std::array<Handler, ir::kOpCount + 1> kHandlers = handlers();

}  // namespace

void Gen::translate(const ir::Line& line) { kHandlers[static_cast<size_t>(line.op)](*this, line); }

}  // namespace kv::gen
