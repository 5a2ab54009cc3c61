// CALL: user functions first, then the built-in table, then unknown names as user calls.
#include <string>
#include <unordered_map>
#include <vector>

#include "gen.h"

namespace kv::gen {
namespace {

using Args = std::vector<std::string>;
using Builtin = void (*)(Gen&, const Args&);

const std::string& arg(const Args& a, size_t i) {
  static const std::string integer = "i";
  return i < a.size() ? a[i] : integer;
}

// Built-ins that pop their arguments into rcx, rdx, r8 and call one routine.
struct Simple {
  int argc;
  const char* routine;
  const char* result;
};

void simple_call(Gen& g, const Simple& s) {
  if (s.argc >= 3) g.ins("pop r8");
  if (s.argc >= 2) g.ins("pop rdx");
  if (s.argc >= 1) g.ins("pop rcx");
  g.ins(std::string("call ") + s.routine);
  g.ins("push rax");
  g.push_type(s.result);
}

const std::unordered_map<std::string, Simple>& simple_table() {
  static const std::unordered_map<std::string, Simple> table = {
      {"toint", {1, "kv_str_to_int", "i"}},
      {"tofloat", {1, "kv_str_to_float", "f"}},
      {"sub", {3, "kv_substr", "s"}},
      {"readfile", {1, "kv_readfile", "s"}},
      {"writefile", {2, "kv_writefile", "i"}},
      {"file_open", {1, "kv_file_open", "i"}},
      {"file_read_chunk", {2, "kv_file_read_chunk", "s"}},
      {"file_eof", {1, "kv_file_eof", "i"}},
      {"file_close", {1, "kv_file_close", "i"}},
      {"chr", {1, "kv_chr", "s"}},
      {"clock", {0, "kv_clock", "i"}},
      {"getenv", {1, "kv_getenv", "s"}},
      {"exedir", {0, "kv_exedir", "s"}},
      {"sock_listen", {1, "kv_sock_listen", "i"}},
      {"sock_accept", {1, "kv_sock_accept", "i"}},
      {"sock_recv", {1, "kv_sock_recv", "s"}},
      {"sock_send", {2, "kv_sock_send", "i"}},
      {"sock_close", {1, "kv_sock_close", "i"}},
      {"map_set", {3, "kv_map_set", "map"}},
      {"map_get_text", {2, "kv_map_get", "s"}},
      {"map_get_int", {2, "kv_map_get", "i"}},
      {"map_get_float", {2, "kv_map_get", "f"}},
      {"map_has", {2, "kv_map_has", "i"}},
      {"map_keys", {1, "kv_map_keys", "ls"}},
      {"system", {1, "kv_system", "i"}},
  };
  return table;
}

void b_len(Gen& g, const Args& a) {
  const std::string& t = arg(a, 0);
  g.ins("pop rcx");
  g.ins(t == "l" || t == "ls" || t == "map" ? "mov rax, [rcx]" : "call kv_strlen");
  g.ins("push rax");
  g.push_type("i");
}

void b_push(Gen& g, const Args& a) {
  g.ins("pop rdx");
  g.ins("pop rcx");
  g.ins("call kv_list_push");
  g.ins("push rax");
  g.push_type(arg(a, 1) == "s" ? "ls" : "l");
}

void b_pop(Gen& g, const Args& a) {
  g.ins("pop rcx");
  g.ins("call kv_list_pop");
  g.ins("push rax");
  g.push_type(arg(a, 0) == "ls" ? "e" : "i");
}

void b_totext(Gen& g, const Args& a) {
  const std::string& t = arg(a, 0);
  if (t == "s") {
    // A text is already its own text form: it stays on the stack as it is.
  } else if (t == "f") {
    g.ins("pop rax");
    g.ins("movq xmm0, rax");
    g.ins("call kv_dbl_to_str");
    g.ins("push rax");
  } else {
    g.ins("pop rcx");
    g.ins("call kv_int_to_str");
    g.ins("push rax");
  }
  g.push_type("s");
}

void b_int_to_float(Gen& g, const Args&) {
  g.ins("pop rax");
  g.ins("cvtsi2sd xmm0, rax");
  g.ins("movq rax, xmm0");
  g.ins("push rax");
  g.push_type("f");
}

void b_float_to_int(Gen& g, const Args&) {
  g.ins("pop rax");
  g.ins("movq xmm0, rax");
  g.ins("cvttsd2si rax, xmm0");
  g.ins("push rax");
  g.push_type("i");
}

void b_ask(Gen& g, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  g.ins("call kv_readline");
  g.ins("push rax");
  g.push_type("s");
}

void b_quit(Gen& g, const Args&) {
  g.ins("pop rcx");
  g.ins("and rsp, -16");
  g.ins("sub rsp, 32");
  g.ins("call ExitProcess");
  g.ins("push rax");
  g.push_type("i");
}

void b_abs(Gen& g, const Args& a) {
  if (arg(a, 0) == "f") {
    g.ins("pop rax");
    g.ins("btr rax, 63");
    g.ins("push rax");
    g.push_type("f");
    return;
  }
  std::string G = g.new_label();
  g.ins("pop rax");
  g.ins("test rax, rax");
  g.ins("jns " + G);
  g.ins("neg rax");
  g.label(G + ":");
  g.ins("push rax");
  g.push_type("i");
}

void min_max(Gen& g, const Args& a, bool is_min) {
  const std::string& A1 = arg(a, 0);
  const std::string& A2 = arg(a, 1);
  g.ins("pop rbx");
  g.ins("pop rax");
  if (A1 == "f" || A2 == "f") {
    g.ins(A1 == "f" ? "movq xmm0, rax" : "cvtsi2sd xmm0, rax");
    g.ins(A2 == "f" ? "movq xmm1, rbx" : "cvtsi2sd xmm1, rbx");
    g.ins("comisd xmm0, xmm1");
    g.ins("movq rax, xmm0");
    g.ins("movq rbx, xmm1");
    g.ins(is_min ? "cmova rax, rbx" : "cmovb rax, rbx");
    g.ins("push rax");
    g.push_type("f");
  } else {
    g.ins("cmp rax, rbx");
    g.ins(is_min ? "cmovg rax, rbx" : "cmovl rax, rbx");
    g.ins("push rax");
    g.push_type("i");
  }
}

void b_min(Gen& g, const Args& a) { min_max(g, a, true); }
void b_max(Gen& g, const Args& a) { min_max(g, a, false); }

void b_ord(Gen& g, const Args&) {
  g.ins("pop rcx");
  g.ins("movzx rax, byte [rcx]");
  g.ins("push rax");
  g.push_type("i");
}

void b_argc(Gen& g, const Args&) {
  g.ins("mov rcx, [g_argv]");
  g.ins("mov rax, [rcx]");
  g.ins("push rax");
  g.push_type("i");
}

void b_argv(Gen& g, const Args&) {
  g.ins("pop rdx");
  g.ins("mov rcx, [g_argv]");
  g.ins("call kv_list_get");
  g.ins("push rax");
  g.push_type("s");
}

void b_lasterror(Gen& g, const Args&) {
  g.ins("mov rax, [g_last_error]");
  g.ins("push rax");
  g.push_type("s");
}

void b_map_new(Gen& g, const Args&) {
  g.ins("mov ecx, 8");
  g.ins("call kv_map_new");
  g.ins("push rax");
  g.push_type("map");
}

void b_print(Gen& g, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  g.ins("xor eax, eax");
  g.ins("push rax");
  g.push_type("i");
}

void b_println(Gen& g, const Args&) {
  g.ins("pop rcx");
  g.ins("call kv_print_str");
  g.ins("lea rcx, [str_nl]");
  g.ins("call kv_print_str");
  g.ins("xor eax, eax");
  g.ins("push rax");
  g.push_type("i");
}

void b_printout(Gen& g, const Args& a) {
  size_t n = a.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      g.ins("lea rcx, [" + g.str_label(" ") + "]");
      g.ins("call kv_print_str");
    }
    g.ins("mov rcx, [rsp+" + std::to_string(8 * (n - 1 - i)) + "]");
    const std::string& t = a[i];
    if (t == "s") {
      g.ins("call kv_print_str");
    } else if (t == "l" || t == "ls") {
      g.ins(t == "ls" ? "mov edx, 1" : "xor edx, edx");
      g.ins("call kv_print_list");
    } else if (t == "f") {
      g.ins("movq xmm0, rcx");
      g.ins("call kv_dbl_to_str");
      g.ins("mov rcx, rax");
      g.ins("call kv_print_str");
    } else {
      g.ins("call kv_print_int");
    }
  }
  if (n > 0) g.ins("add rsp, " + std::to_string(8 * n));
  g.ins("xor eax, eax");
  g.ins("push rax");
  g.push_type("i");
}

void b_run_coroutines(Gen& g, const Args&) {
  g.ins("call kv_run_coroutines");
  g.ins("xor eax, eax");
  g.ins("push rax");
  g.push_type("i");
}

const std::unordered_map<std::string, Builtin>& special_table() {
  static const std::unordered_map<std::string, Builtin> table = {
      {"len", b_len},
      {"push", b_push},
      {"pop", b_pop},
      {"totext", b_totext},
      {"int_to_float", b_int_to_float},
      {"float_to_int", b_float_to_int},
      {"ask", b_ask},
      {"quit", b_quit},
      {"abs", b_abs},
      {"min", b_min},
      {"max", b_max},
      {"ord", b_ord},
      {"argc", b_argc},
      {"argv", b_argv},
      {"lasterror", b_lasterror},
      {"map_new", b_map_new},
      {"print", b_print},
      {"println", b_println},
      {"printout", b_printout},
      {"run_coroutines", b_run_coroutines},
  };
  return table;
}

}  // namespace

void Gen::builtin_or_user_call(const std::string& name, std::string_view argc_op) {
  size_t argc = count_operand(argc_op);
  Args args = pop_types(argc);
  auto user = functions.find(name);
  if (user == functions.end()) {
    auto special = special_table().find(name);
    if (special != special_table().end()) {
      special->second(*this, args);
      return;
    }
    auto simple = simple_table().find(name);
    if (simple != simple_table().end()) {
      simple_call(*this, simple->second);
      return;
    }
  }
  ins("call kv_fn_" + name);
  if (argc > 0) ins("add rsp, " + std::to_string(8 * argc));
  ins("push rax");
  push_type(user == functions.end() ? "i" : user->second);
}

}  // namespace kv::gen
