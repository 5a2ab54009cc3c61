// CALL: user functions first, then the built-ins of builtins.def, then unknown names as
// user calls. A call first makes each argument the kind its parameter names; then each
// built-in is written by its emitter: `call` for the plain runtime calls, a template of its
// own for the rest.
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "gen.h"
#include "layout.h"

namespace kv::gen {
namespace {

struct Builtin;

// The arguments of a call, popped: their types and the type-stack position of the first,
// where the result goes.
struct Args {
  std::vector<Type> types;
  size_t base = 0;
  const Type& operator[](size_t i) const {
    static const Type integer;
    return i < types.size() ? types[i] : integer;
  }
  size_t size() const { return types.size(); }
};
using Emitter = void (*)(Gen&, const Builtin&, const Args&);

struct Builtin {
  std::string_view name;
  int args;
  std::string_view params;
  Emitter emit;
  std::string_view routine;
  std::optional<Kind> result;  // the kind `call` pushes
};

// The kind of argument i as an operand: its cell, or its code.
std::string kind_of(Gen& g, const Args& a, size_t i) {
  if (a[i].is(Kind::Dynamic)) return g.kind_cell(a.base + i);
  return std::to_string(runtime_kind(a[i].kind));
}

void push_result(Gen& g, Kind k) {
  g.ins("push rax");
  g.push_type(k);
}

// A result of a kind known only at run time: the value in rax, its kind in rdx.
void push_dynamic(Gen& g) {
  g.ins("push rax");
  g.push_type(Kind::Dynamic);
  g.ins("mov " + g.kind_cell(g.top()) + ", rdx");
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
  const Type& t = a[0];
  g.ins("pop rcx");
  if (t.is(Kind::Dynamic)) {
    g.ins("mov rdx, " + kind_of(g, a, 0));
    g.ins("call kv_dyn_len");
  } else {
    g.ins(t.is(Kind::List) || t.is(Kind::Map) ? "mov rax, [rcx]" : "call kv_strlen");
  }
  push_result(g, Kind::Int);
}

void emit_push(Gen& g, const Builtin&, const Args& a) {
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("mov r8, " + kind_of(g, a, 1));
  g.ins("call kv_list_push");
  push_result(g, Kind::List);
}

void emit_pop(Gen& g, const Builtin&, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_list_pop");
  push_dynamic(g);
}

void emit_totext(Gen& g, const Builtin&, const Args& a) {
  const Type& t = a[0];
  if (t.is(Kind::Text)) {
    // A text is already its own text form: it stays on the stack as it is.
  } else if (t.is(Kind::Float)) {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("call kv_dbl_to_str");
    g.ins("push rax");
  } else if (t.is(Kind::List) || t.is(Kind::Dynamic)) {
    g.ins("pop rcx");
    g.ins("mov rdx, " + kind_of(g, a, 0));
    g.ins("call kv_value_to_str");
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
  if (a[0].is(Kind::Dynamic)) {
    g.ins("pop rcx");
    g.ins("mov rdx, " + kind_of(g, a, 0));
    g.ins("call kv_dyn_abs");
    push_dynamic(g);
    return;
  }
  if (a[0].is(Kind::Float)) {
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
  const Type& A1 = a[0];
  const Type& A2 = a[1];
  if (A1.is(Kind::Dynamic) || A2.is(Kind::Dynamic)) {
    g.ins("pop r8");
    g.ins("pop rcx");
    g.ins("mov rdx, " + kind_of(g, a, 0));
    g.ins("mov r9, " + kind_of(g, a, 1));
    g.ins(is_min ? "xor r10d, r10d" : "mov r10d, 1");
    g.ins("call kv_dyn_pick");
    push_dynamic(g);
    return;
  }
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

void emit_map_set(Gen& g, const Builtin& b, const Args& a) {
  g.ins("pop r8");
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("mov r9, " + kind_of(g, a, 2));
  g.ins("call " + std::string(b.routine));
  push_result(g, Kind::Map);
}

// The getters give the value stored with its kind; the float getter gives an integer as
// a float.
void emit_map_get(Gen& g, const Builtin& b, const Args&) {
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call " + std::string(b.routine));
  push_dynamic(g);
}

void no_result(Gen& g) {
  g.ins("xor eax, eax");
  push_result(g, Kind::Int);
}

// print and println write a text as it is, and any other value as kvlog writes it.
void print_value(Gen& g, const Args& a) {
  const Type& t = a[0];
  g.ins("pop rcx");
  if (t.is(Kind::Text)) {
    g.ins("call kv_print_str");
  } else if (t.is(Kind::Float)) {
    g.ins("movq xmm0, rcx");
    g.ins("call kv_dbl_to_str");
    g.ins("mov rcx, rax");
    g.ins("call kv_print_str");
  } else if (t.is(Kind::List)) {
    g.ins("call kv_print_list");
  } else if (t.is(Kind::Dynamic)) {
    g.ins("mov rdx, " + kind_of(g, a, 0));
    g.ins("call kv_print_value");
  } else {
    g.ins("call kv_print_int");
  }
}

void emit_print(Gen& g, const Builtin&, const Args& a) {
  print_value(g, a);
  no_result(g);
}

void emit_println(Gen& g, const Builtin&, const Args& a) {
  print_value(g, a);
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
    } else if (t.is(Kind::List)) {
      g.ins("call kv_print_list");
    } else if (t.is(Kind::Float)) {
      g.ins("movq xmm0, rcx");
      g.ins("call kv_dbl_to_str");
      g.ins("mov rcx, rax");
      g.ins("call kv_print_str");
    } else if (t.is(Kind::Dynamic)) {
      g.ins("mov rdx, " + kind_of(g, a, i));
      g.ins("call kv_print_value");
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
constexpr std::optional<Kind> result_List = Kind::List;
constexpr std::optional<Kind> result_Map = Kind::Map;
constexpr std::optional<Kind> result_ByTemplate = std::nullopt;

const Builtin kBuiltins[] = {
#define KV_BUILTIN(name, args, result, params, emitter, routine, kind) \
  {#name, args, params, emit_##emitter, #routine, result_##kind},
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

// The kind a built-in's parameter word asks for; nothing for any, num and the like.
std::optional<Type> param_kind(std::string_view word) {
  if (word == "int") return Type::of(Kind::Int);
  if (word == "float") return Type::of(Kind::Float);
  if (word == "text") return Type::of(Kind::Text);
  if (word == "list") return Type::of(Kind::List);
  if (word == "map") return Type::of(Kind::Map);
  return std::nullopt;
}

// Makes the arguments at the top of the type stack the kinds the built-in's parameters name.
void coerce_arguments(Gen& g, const Builtin& b, size_t argc) {
  if (b.args < 0 || static_cast<size_t>(b.args) != argc || g.types.size() < argc) return;
  const size_t base = g.types.size() - argc;
  std::string_view params = b.params;
  for (size_t i = 0; i < argc && !params.empty(); ++i) {
    const size_t blank = params.find(' ');
    if (auto k = param_kind(params.substr(0, blank))) g.coerce(base + i, *k);
    params = blank == std::string_view::npos ? std::string_view() : params.substr(blank + 1);
  }
}

}  // namespace

void Gen::call(const std::string& name, std::string_view argc_op, bool in_rax) {
  size_t argc = count_operand(argc_op);
  const size_t base = types.size() - argc;
  auto user = functions.find(name);
  if (user == functions.end()) {
    if (const Builtin* b = find_builtin(name)) {
      coerce_arguments(*this, *b, argc);
      Args args{pop_types(argc), base};
      b->emit(*this, *b, args);
      return;
    }
  } else {
    // Each argument becomes its parameter's kind; the kinds of those handed over as
    // Dynamic go to kv_arg_kinds, where the callee's prologue takes them.
    const std::vector<Type>& params = user->second.params;
    for (size_t i = 0; i < argc && i < params.size(); ++i) coerce(base + i, params[i]);
    for (size_t i = 0; i < argc && i < params.size(); ++i)
      if (params[i].is(Kind::Dynamic)) {
        ins("mov rax, " + kind_operand(base + i));
        ins("mov [kv_arg_kinds+" + std::to_string(8 * i) + "], rax");
      }
  }
  pop_types(argc);
  ins("call kv_fn_" + name);
  if (argc > 0) ins("add rsp, " + std::to_string(8 * argc));
  if (in_rax && user != functions.end())
    top_in_rax = true;
  else
    ins("push rax");
  if (user == functions.end()) {
    push_type(Kind::Int);
    return;
  }
  push_type(user->second.result);
  if (user->second.result.is(Kind::Dynamic)) ins("mov " + kind_cell(top()) + ", rdx");
}

}  // namespace kv::gen
