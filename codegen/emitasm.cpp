// The IR reader and the module layout: tables, declaration scan, routine framing,
// runtime text and the data sections.
#include "emitasm.h"

#include <algorithm>

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
  g.lines = split_ir_lines(ir_text);
  declaration_scan(g);

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
