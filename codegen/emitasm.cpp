// The IR reader and the module layout: header, start-up, the routines (routines.cpp),
// runtime text and the data sections.
#include "emitasm.h"

#include "gen.h"
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

namespace {

void write_runtime(Gen& g, std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == ';') continue;
    // Each @@text@@ becomes the pool label of that text, interned here.
    std::string expanded;
    std::string_view rest = line.substr(first == 0 ? 0 : first);
    for (;;) {
      size_t open = rest.find("@@");
      if (open == std::string_view::npos) break;
      size_t close = rest.find("@@", open + 2);
      if (close == std::string_view::npos) break;
      expanded.append(rest.substr(0, open));
      expanded.append(g.str_label(rest.substr(open + 2, close - open - 2)));
      rest.remove_prefix(close + 2);
    }
    expanded.append(rest);
    if (first == 0)
      g.label(expanded);
    else
      g.ins(expanded);
  }
}

void write_error_exits(Gen& g) {
  static const char* const exits[][2] = {
      {"kv_div0", "runtime error: division by zero"},
      {"kv_oob", "runtime error: index out of bounds"},
      {"kv_empty", "runtime error: pop() on empty list"},
      {"kv_badnum", "runtime error: text is not a number"},
      {"kv_oom", "runtime error: out of memory"},
      {"kv_nofile", "runtime error: cannot open file"},
      {"kv_nokey", "runtime error: map key not found"},
  };
  for (const auto& e : exits) {
    g.label(std::string(e[0]) + ":");
    g.ins("lea rcx, [" + g.str_label(e[1]) + "]");
    g.ins("mov [g_last_error], rcx");
    g.ins("mov rax, [g_exc_top]");
    g.ins("test rax, rax");
    g.ins("jz .noh");
    g.ins("dec rax");
    g.ins("mov [g_exc_top], rax");
    g.ins("lea r11, [g_exc_rbp]");
    g.ins("mov rbp, [r11 + rax*8]");
    g.ins("lea r11, [g_exc_rsp]");
    g.ins("mov rsp, [r11 + rax*8]");
    g.ins("lea r11, [g_exc_tgt]");
    g.ins("mov r10, [r11 + rax*8]");
    g.ins("jmp r10");
    g.label(".noh: lea rcx, [" + g.str_label(e[1]) + "]");
    g.ins("call kv_print_err");
    g.ins("lea rcx, [str_nl]");
    g.ins("call kv_print_err");
    g.ins("and rsp, -16");
    g.ins("sub rsp, 32");
    g.ins("mov ecx, 1");
    g.ins("call ExitProcess");
  }
}

const char* const kStartup[] = {
    "sub rsp, 40",       "mov ecx, -11",           "call GetStdHandle",      "mov [stdout_h], rax",
    "mov ecx, -12",      "call GetStdHandle",      "mov [stderr_h], rax",    "mov ecx, -10",
    "call GetStdHandle", "mov [stdin_h], rax",     "xor ecx, ecx",           "mov edx, 536870912",
    "mov r8d, 0x3000",   "mov r9d, 4",             "call VirtualAlloc",      "test rax, rax",
    "jz kv_oom",         "mov [heap_cur], rax",    "lea r10, [rax+67108864]", "mov [heap_end], r10",
    "lea r10, [str_noerr]", "mov [g_last_error], r10", "call kv_init_argv",  "call kv_user_main",
    "xor ecx, ecx",      "call ExitProcess",
};

}  // namespace
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

std::string db_operands(std::string_view s) {
  std::string out;
  bool open = false;
  auto number = [&](int v) {
    if (open) {
      out += '"';
      open = false;
    }
    if (!out.empty()) out += ',';
    out += std::to_string(v);
  };
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
      char next = i + 2 < s.size() ? s[i + 2] : '\0';
      bool has_next = i + 2 < s.size();
      if (has_next && next == 'n') {
        number(10);
        i += 3;
      } else if (has_next && next == 'r') {
        number(13);
        i += 3;
      } else if (has_next && next == 't') {
        number(9);
        i += 3;
      } else if (has_next && next == '\\') {
        number(92);
        i += 4;
      } else if (has_next && next == '"') {
        number(34);
        i += 3;
      } else {
        number(92);
        i += 2;
      }
      continue;
    }
    if (c == '"') {
      number(34);
      ++i;
      continue;
    }
    if (!open) {
      if (!out.empty()) out += ',';
      out += '"';
      open = true;
    }
    out += static_cast<char>(c);
    ++i;
  }
  if (open) out += '"';
  if (!out.empty()) out += ',';
  out += '0';
  return out;
}

std::string emit_module_with_runtime(std::string_view ir_text, std::string_view runtime_text) {
  using namespace gen;
  Gen g;
  for (std::string_view line : split_ir_lines(ir_text)) g.lines.push_back(ir::parse(line));

  g.label("default rel");
  g.label("global kv_start");
  g.label("extern GetStdHandle, WriteFile, ReadFile, ExitProcess, VirtualAlloc, CreateFileA, "
          "GetFileSizeEx, CloseHandle, GetTickCount, CreateProcessA, WaitForSingleObject, "
          "GetExitCodeProcess, GetCommandLineA, SetFilePointerEx, GetEnvironmentVariableA, "
          "GetModuleFileNameA");
  g.label("extern WSAStartup, WSAGetLastError, socket, bind, listen, accept, recv, send, "
          "closesocket, shutdown");
  g.label("section .text");
  g.label("kv_start:");
  for (const char* s : kStartup) g.ins(s);

  write_routines(g);

  write_runtime(g, runtime_text);
  write_error_exits(g);

  g.label("section .data");
  g.label("str_nl: db 13,10,0");
  g.label("str_noerr: db 0");
  g.label("str_dot: db \".\",0");
  g.label("str_minus: db \"-\",0");
  g.label("kv_sys_prefix: db 'cmd.exe /c \"',0");
  g.label("dbl_scale: dq 1000000.0");
  g.label("dbl_ten: dq 10.0");
  for (size_t k = 0; k < g.strings.items.size(); ++k)
    g.label("str_" + std::to_string(k) + ": db " + db_operands(g.strings.items[k]));
  for (size_t k = 0; k < g.floats.items.size(); ++k)
    g.label("dbl_" + std::to_string(k) + ": dq " + g.floats.items[k]);

  g.label("section .bss");
  static const char* const cells[] = {
      "stdout_h: resq 1",  "stderr_h: resq 1",  "stdin_h: resq 1",      "written: resq 1",
      "numbuf: resb 32",   "fsize: resq 1",     "heap_cur: resq 1",     "heap_end: resq 1",
      "g_argv: resq 1",    "g_exc_top: resq 1", "g_exc_rbp: resq 64",   "g_exc_rsp: resq 64",
      "g_exc_tgt: resq 64", "g_last_error: resq 1", "wsadata: resb 512", "filepos: resq 1",
      "coro_ready: resq 1", "coro_current: resq 1", "sched_ctx: resq 1",
  };
  for (const char* c : cells) g.label(c);
  for (const std::string& name : g.global_names.items) g.label("kv_g_" + name + ": resq 1");
  return std::move(g.out);
}

std::string emit_module(std::string_view ir_text) {
  return emit_module_with_runtime(ir_text, runtime_asm_text());
}

}  // namespace kv
