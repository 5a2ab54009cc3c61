// CALL: user functions first, then the built-ins of builtins.def, then unknown names as
// user calls. Each built-in is written by its emitter: `call` for the plain runtime calls,
// a template of its own for the rest.
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "gen.h"

namespace kv::gen {
namespace {

using Args = std::vector<Type>;
struct Builtin;
using Emitter = void (*)(Gen&, const Builtin&, const Args&);

struct Builtin {
  std::string_view name;
  int args;
  Emitter emit;
  std::string_view routine;
  std::optional<Kind> result;  // the kind `call` pushes
};

const Type& arg(const Args& a, size_t i) {
  static const Type integer;
  return i < a.size() ? a[i] : integer;
}

void push_result(Gen& g, Kind k) {
  g.ins("push rax");
  g.push_type(k);
}

// Pops the arguments into rcx, rdx, r8 (the last argument first) and calls the routine.
void emit_call(Gen& g, const Builtin& b, const Args&) {
  if (b.args >= 3) g.ins("pop r8");
  if (b.args >= 2) g.ins("pop rdx");
  if (b.args >= 1) g.ins("pop rcx");
  g.ins("call " + std::string(b.routine));
  push_result(g, *b.result);
}

void emit_len(Gen& g, const Builtin&, const Args& a) {
  const Type& t = arg(a, 0);
  g.ins("pop rcx");
  g.ins(t.is_list() || t.is(Kind::Map) ? "mov rax, [rcx]" : "call kv_strlen");
  push_result(g, Kind::Int);
}

void emit_push(Gen& g, const Builtin&, const Args& a) {
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call kv_list_push");
  push_result(g, arg(a, 1).is(Kind::Text) ? Kind::TextList : Kind::List);
}

void emit_pop(Gen& g, const Builtin&, const Args& a) {
  g.ins("pop rcx");
  g.ins("call kv_list_pop");
  push_result(g, arg(a, 0).is(Kind::TextList) ? Kind::MaybeText : Kind::Int);
}

void emit_totext(Gen& g, const Builtin&, const Args& a) {
  const Type& t = arg(a, 0);
  if (t.is(Kind::Text)) {
    // A text is already its own text form: it stays on the stack as it is.
  } else if (t.is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("call kv_dbl_to_str");
    g.ins("push rax");
  } else {
    g.ins("pop rcx");
    g.ins("call kv_int_to_str");
    g.ins("push rax");
  }
  g.push_type(Kind::Text);
}

void emit_int_to_float(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rax");
  g.ins("cvtsi2sd xmm0, rax");
  g.ins("movq rax, xmm0");
  push_result(g, Kind::Float);
}

void emit_float_to_int(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rax");
  g.ins("movq xmm0, rax");
  g.ins("cvttsd2si rax, xmm0");
  push_result(g, Kind::Int);
}

void emit_ask(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  g.ins("call kv_readline");
  push_result(g, Kind::Text);
}

void emit_quit(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("and rsp, -16");
  g.ins("sub rsp, 32");
  g.ins("call kv_exit");
  push_result(g, Kind::Int);
}

void emit_abs(Gen& g, const Builtin&, const Args& a) {
  if (arg(a, 0).is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("btr rax, 63");
    push_result(g, Kind::Float);
    return;
  }
  std::string G = g.new_label();
  g.ins("pop rax");
  g.ins("test rax, rax");
  g.ins("jns " + G);
  g.ins("neg rax");
  g.label(G + ":");
  push_result(g, Kind::Int);
}

void min_max(Gen& g, const Args& a, bool is_min) {
  const Type& A1 = arg(a, 0);
  const Type& A2 = arg(a, 1);
  g.ins("pop rbx");
  g.ins("pop rax");
  if (A1.is(Kind::Float) || A2.is(Kind::Float)) {
    g.ins(A1.is(Kind::Float) ? "movq xmm0, rax" : "cvtsi2sd xmm0, rax");
    g.ins(A2.is(Kind::Float) ? "movq xmm1, rbx" : "cvtsi2sd xmm1, rbx");
    g.ins("comisd xmm0, xmm1");
    g.ins("movq rax, xmm0");
    g.ins("movq rbx, xmm1");
    g.ins(is_min ? "cmova rax, rbx" : "cmovb rax, rbx");
    push_result(g, Kind::Float);
  } else {
    g.ins("cmp rax, rbx");
    g.ins(is_min ? "cmovg rax, rbx" : "cmovl rax, rbx");
    push_result(g, Kind::Int);
  }
}

void emit_min(Gen& g, const Builtin&, const Args& a) { min_max(g, a, true); }
void emit_max(Gen& g, const Builtin&, const Args& a) { min_max(g, a, false); }

void emit_ord(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("movzx rax, byte [rcx]");
  push_result(g, Kind::Int);
}

void emit_argc(Gen& g, const Builtin&, const Args&) {
  g.ins("mov rcx, [g_argv]");
  g.ins("mov rax, [rcx]");
  push_result(g, Kind::Int);
}

void emit_argv(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rdx");
  g.ins("mov rcx, [g_argv]");
  g.ins("call kv_list_get");
  push_result(g, Kind::Text);
}

void emit_lasterror(Gen& g, const Builtin&, const Args&) {
  g.ins("mov rax, [g_last_error]");
  push_result(g, Kind::Text);
}

void emit_map_new(Gen& g, const Builtin&, const Args&) {
  g.ins("mov ecx, 8");
  g.ins("call kv_map_new");
  push_result(g, Kind::Map);
}

void no_result(Gen& g) {
  g.ins("xor eax, eax");
  push_result(g, Kind::Int);
}

void emit_print(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  no_result(g);
}

void emit_println(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  g.ins("lea rcx, [str_nl]");
  g.ins("call kv_print_str");
  no_result(g);
}

void emit_printout(Gen& g, const Builtin&, const Args& a) {
  size_t n = a.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      g.ins("lea rcx, [" + g.str_label(" ") + "]");
      g.ins("call kv_print_str");
    }
    g.ins("mov rcx, [rsp+" + std::to_string(8 * (n - 1 - i)) + "]");
    const Type& t = a[i];
    if (t.is(Kind::Text)) {
      g.ins("call kv_print_str");
    } else if (t.is_list()) {
      g.ins(t.is(Kind::TextList) ? "mov edx, 1" : "xor edx, edx");
      g.ins("call kv_print_list");
    } else if (t.is(Kind::Float)) {
      g.ins("movq xmm0, rcx");
      g.ins("call kv_dbl_to_str");
      g.ins("mov rcx, rax");
      g.ins("call kv_print_str");
    } else {
      g.ins("call kv_print_int");
    }
  }
  if (n > 0) g.ins("add rsp, " + std::to_string(8 * n));
  no_result(g);
}

void emit_run_coroutines(Gen& g, const Builtin&, const Args&) {
  g.ins("call kv_run_coroutines");
  no_result(g);
}

constexpr std::optional<Kind> result_Int = Kind::Int;
constexpr std::optional<Kind> result_Float = Kind::Float;
constexpr std::optional<Kind> result_Text = Kind::Text;
constexpr std::optional<Kind> result_TextList = Kind::TextList;
constexpr std::optional<Kind> result_Map = Kind::Map;
constexpr std::optional<Kind> result_ByTemplate = std::nullopt;

const Builtin kBuiltins[] = {
#define KV_BUILTIN(name, args, result, params, emitter, routine, kind) \
  {#name, args, emit_##emitter, #routine, result_##kind},
#include "builtins.def"
#undef KV_BUILTIN
};

const Builtin* find_builtin(std::string_view name) {
  static const std::unordered_map<std::string_view, const Builtin*> index = [] {
    std::unordered_map<std::string_view, const Builtin*> m;
    for (const Builtin& b : kBuiltins) m.emplace(b.name, &b);
    return m;
  }();
  auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

}  // namespace

void Gen::call(const std::string& name, std::string_view argc_op) {
  size_t argc = count_operand(argc_op);
  Args args = pop_types(argc);
  auto user = functions.find(name);
  if (user == functions.end()) {
    if (const Builtin* b = find_builtin(name)) {
      b->emit(*this, *b, args);
      return;
    }
  }
  ins("call kv_fn_" + name);
  if (argc > 0) ins("add rsp, " + std::to_string(8 * argc));
  ins("push rax");
  push_type(user == functions.end() ? Type{} : user->second);
}

}  // namespace kv::gen
