// The instruction template of every IR operation.
#include <string>

#include "gen.h"

namespace kv::gen {
namespace {

// A "let" with a scalar type names what its value is. An element of a list passed in as a
// parameter (or returned from a function) is typed as a text, whatever it holds, so
// `let int n = xs{0}:` would otherwise make n a text and `n + 1` a text join on an
// integer. The declared type wins for int, bool and text; a float keeps an integer's letter,
// because an integer literal given to a float is stored as its integer bits.
std::string declared_letter(std::string_view type_word, const std::string& value_letter) {
  if (type_word == "int" || type_word == "bool") return "i";
  if (type_word == "text") return "s";
  if (type_word == "float") return value_letter == "i" ? "i" : "f";
  return value_letter;
}

std::string label_symbol(std::string_view op) {
  // ".L7" is written "kv_L7": the prefix and the operand without its first character.
  return "kv_" + std::string(op.empty() ? op : op.substr(1));
}

std::string field_letter(const std::string& type_word) {
  if (type_word == "int" || type_word == "bool") return "i";
  if (type_word == "text") return "s";
  if (type_word == "list") return "l";
  if (type_word == "float") return "f";
  return type_word;
}

std::string cell(size_t distance) { return "[rbp-" + std::to_string(distance) + "]"; }

void bin(Gen& g, std::string_view op) {
  std::string R = g.pop_raw_type();
  std::string L = g.pop_raw_type();
  // An element of a list taken to hold texts may be a number: "+" of it and an integer asks
  // the runtime, which adds a number and joins a text; kv_concat and kv_streq tell a number
  // from a text themselves. The result may still be a number, so it stays "e".
  const bool maybe_number = L == "e" || R == "e";
  if (L == "e") L = "s";
  if (R == "e") R = "s";
  if (op == "+" && (L == "s" || R == "s")) {
    auto convert = [&](const std::string& letter) {
      if (letter == "f") {
        g.ins("movq xmm0, rcx");
        g.ins("call kv_dbl_to_str");
      } else {
        g.ins("call kv_int_to_str");
      }
    };
    if (L == "s" && R == "s") {
      g.ins("pop rdx");
      g.ins("pop rcx");
      g.ins("call kv_concat");
    } else if (maybe_number && L != "f" && R != "f") {
      g.ins("pop rdx");
      g.ins("pop rcx");
      g.ins(L == "s" ? "mov r8d, 1" : "xor r8d, r8d");
      g.ins("call kv_join_int");
    } else if (L == "s") {
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
    g.push_type(maybe_number ? "e" : "s");
    return;
  }
  if ((op == "==" || op == "!=") && L == "s" && R == "s") {
    g.ins("pop rdx");
    g.ins("pop rcx");
    g.ins("call kv_streq");
    if (op == "!=") g.ins("xor rax, 1");
    g.ins("push rax");
    g.push_type("i");
    return;
  }
  if (L == "f" || R == "f") {
    g.ins("pop rbx");
    g.ins("pop rax");
    g.ins(L == "f" ? "movq xmm0, rax" : "cvtsi2sd xmm0, rax");
    g.ins(R == "f" ? "movq xmm1, rbx" : "cvtsi2sd xmm1, rbx");
    const char* arith = op == "+"   ? "addsd xmm0, xmm1"
                        : op == "-" ? "subsd xmm0, xmm1"
                        : op == "*" ? "mulsd xmm0, xmm1"
                        : op == "/" ? "divsd xmm0, xmm1"
                                    : nullptr;
    if (arith) {
      g.ins(arith);
      g.ins("movq rax, xmm0");
      g.ins("push rax");
      g.push_type("f");
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
      g.push_type("f");
    } else {
      const char* cc = op == "!=" ? "ne" : op == "<" ? "b" : op == ">" ? "a" : op == "<=" ? "be" : op == ">=" ? "ae" : "e";
      g.ins("comisd xmm0, xmm1");
      g.ins(std::string("set") + cc + " al");
      g.ins("movzx eax, al");
      g.ins("push rax");
      g.push_type("i");
    }
    return;
  }
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
  g.push_type("i");
}

void log_line(Gen& g, std::string_view level, std::string_view count) {
  size_t n = g.count_operand(count);
  std::vector<std::string> letters = g.pop_types(n);
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
    const std::string& t = letters[i];
    if (t == "s") {
      g.ins(text_printer);
    } else if (t == "l" || t == "ls") {
      g.ins(t == "ls" ? "mov edx, 1" : "xor edx, edx");
      g.ins(list_printer);
    } else if (t == "f") {
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

void list_literal(Gen& g, std::string_view count) {
  size_t n = g.count_operand(count);
  std::vector<std::string> letters = g.pop_types(n);
  g.ins("mov ecx, " + std::to_string(n < 4 ? 4 : n));
  g.ins("call kv_list_new");
  g.ins("mov r10, [rax+16]");
  for (size_t i = n; i-- > 0;) {
    g.ins("pop rcx");
    g.ins("mov [r10+" + std::to_string(8 * i) + "], rcx");
  }
  g.ins("mov qword [rax], " + std::to_string(n));
  g.ins("push rax");
  g.push_type(n > 0 && letters[0] == "s" ? "ls" : "l");
}

void map_literal(Gen& g, std::string_view count) {
  size_t n = g.count_operand(count, 2);
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
  g.push_type("map");
}

void new_record(Gen& g, const std::string& record) {
  auto it = g.records.find(record);
  size_t f = it == g.records.end() ? 0 : it->second.size();
  g.pop_types(f);
  g.ins("mov ecx, " + std::to_string(8 * f));
  g.ins("call kv_alloc");
  for (size_t i = f; i-- > 0;) {
    g.ins("pop r10");
    g.ins("mov [rax+" + std::to_string(8 * i) + "], r10");
  }
  g.ins("push rax");
  g.push_type(record);
}

// Offset and letter of a record field; a field that is not found is at 0 and an "int".
std::pair<size_t, std::string> field_of(Gen& g, std::string_view record, std::string_view field) {
  auto it = g.field_index.find(std::string(record) + '\n' + std::string(field));
  if (it == g.field_index.end()) return {0, "i"};
  const Field& f = g.records[std::string(record)][it->second];
  return {8 * it->second, field_letter(f.type)};
}

// Loop cells of the current depth d: distances 8(L+3(d-1)+1..3) below rbp.
size_t loop_cell(const Gen& g, size_t which) { return 8 * (g.local_count + 3 * (g.loops.size() - 1) + which + 1); }

void range_open(Gen& g) {
  g.pop_types(3);
  g.loops.push_back(LoopEntry{true, "i"});
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

void iter_open(Gen& g) {
  std::string t = g.pop_type();
  g.loops.push_back(LoopEntry{false, t == "ls" ? "e" : "i"});
  g.ins("pop rax");
  g.ins("mov r10, [rax]");
  g.ins("mov r11, [rax+16]");
  g.ins("mov qword " + cell(loop_cell(g, 0)) + ", 0");
  g.ins("mov " + cell(loop_cell(g, 1)) + ", r10");
  g.ins("mov " + cell(loop_cell(g, 2)) + ", r11");
}

// INEXT with no open loop has no cells to read: it writes nothing.
void iter_next(Gen& g, std::string_view var_op, std::string_view exit_op) {
  if (g.loops.empty()) return;
  const LoopEntry& loop = g.loops.back();
  std::string var(var_op);
  std::string exit = label_symbol(exit_op);
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
  if (var != "~") g.record_var_type(var, loop.letter);
}

}  // namespace

void Gen::translate_line(std::string_view line) {
  Fields f = fields_of(line);
  std::string_view op = f.op;
  if (op.size() >= 2 && op[0] == '.' && op[1] == 'L') {
    label(label_symbol(line) + ":");
    return;
  }
  if (op == "CONST") {
    if (f.a == "true") {
      ins("mov rax, 1");
    } else if (f.a == "false") {
      ins("xor eax, eax");
    } else if (f.a == "none") {
      ins("mov rax, 9223372036854775807");
    } else {
      ins("mov rax, " + std::string(f.a));
    }
    ins("push rax");
    push_type("i");
  } else if (op == "CONSTF") {
    ins("mov rax, [dbl_" + std::to_string(floats.intern(f.a)) + "]");
    ins("push rax");
    push_type("f");
  } else if (op == "STR") {
    ins("lea rax, [" + str_label(f.rest) + "]");
    ins("push rax");
    push_type("s");
  } else if (op == "LOAD") {
    std::string name(f.a);
    ins("mov rax, " + var_ref(name));
    ins("push rax");
    push_type(var_type(name));
  } else if (op == "STORE" || op == "FIX" || op == "DECL") {
    std::string name(op == "DECL" ? f.b : f.a);
    std::string t = pop_raw_type();
    if (op == "DECL") t = declared_letter(f.a, t);
    ins("pop rax");
    ins("mov " + var_ref(name) + ", rax");
    record_var_type(name, t);
  } else if (op == "POP") {
    pop_type();
    ins("add rsp, 8");
  } else if (op == "DUP") {
    std::string t = types.empty() ? "i" : types.back();
    ins("mov rax, [rsp]");
    ins("push rax");
    push_type(t);
  } else if (op == "NEG") {
    std::string t = pop_type();
    if (t == "f") {
      ins("pop rax");
      ins("movq xmm0, rax");
      ins("pxor xmm1, xmm1");
      ins("subsd xmm1, xmm0");
      ins("movq rax, xmm1");
      ins("push rax");
    } else {
      ins("pop rax");
      ins("neg rax");
      ins("push rax");
    }
    push_type(t);
  } else if (op == "NOT" || op == "BOOL") {
    pop_type();
    ins("pop rax");
    ins("test rax, rax");
    ins(op == "NOT" ? "sete al" : "setne al");
    ins("movzx eax, al");
    ins("push rax");
    push_type("i");
  } else if (op == "BIN") {
    bin(*this, f.a);
  } else if (op == "INDEX") {
    pop_type();
    std::string left = pop_type();
    ins("pop rdx");
    ins("pop rcx");
    ins(left == "s" ? "call kv_text_index" : "call kv_list_get");
    ins("push rax");
    push_type(left == "s" ? "s" : left == "ls" ? "e" : "i");
  } else if (op == "SETIDX") {
    pop_types(3);
    ins("pop r8");
    ins("pop rdx");
    ins("pop rcx");
    ins("call kv_list_set");
  } else if (op == "LIST") {
    list_literal(*this, f.a);
  } else if (op == "MAP") {
    map_literal(*this, f.a);
  } else if (op == "JMP") {
    ins("jmp " + label_symbol(f.a));
  } else if (op == "JF" || op == "JT") {
    pop_type();
    ins("pop rax");
    ins("test rax, rax");
    ins((op == "JF" ? "jz " : "jnz ") + label_symbol(f.a));
  } else if (line == "RANGE") {
    range_open(*this);
  } else if (line == "ITER") {
    iter_open(*this);
  } else if (op == "INEXT") {
    iter_next(*this, f.a, f.b);
  } else if (line == "IPOP") {
    if (!loops.empty()) loops.pop_back();
  } else if (op == "TRYPUSH") {
    ins("lea rcx, [" + label_symbol(f.a) + "]");
    ins("call kv_exc_push");
  } else if (op == "TRYPOP") {
    ins("call kv_exc_pop");
  } else if (op == "TOSTR") {
    std::string t = types.empty() ? "i" : types.back();
    if (t == "s" || t == "e") return;
    pop_type();
    if (t == "f") {
      ins("pop rax");
      ins("movq xmm0, rax");
      ins("call kv_dbl_to_str");
    } else {
      ins("pop rcx");
      ins("call kv_int_to_str");
    }
    ins("push rax");
    push_type("s");
  } else if (op == "NEW") {
    new_record(*this, std::string(f.a));
  } else if (op == "FGET") {
    pop_type();
    auto [offset, letter] = field_of(*this, f.a, f.b);
    ins("pop rcx");
    ins("mov rax, [rcx+" + std::to_string(offset) + "]");
    ins("push rax");
    push_type(letter);
  } else if (op == "FSET") {
    pop_types(2);
    auto [offset, letter] = field_of(*this, f.a, f.b);
    (void)letter;
    ins("pop r10");
    ins("pop rcx");
    ins("mov [rcx+" + std::to_string(offset) + "], r10");
  } else if (op == "LOG") {
    log_line(*this, f.a, f.b);
  } else if (op == "CALL") {
    builtin_or_user_call(std::string(f.a), f.b);
  } else if (line == "RET") {
    pop_type();
    ins("pop rax");
    if (coroutine) {
      ins("call kv_coro_finish");
    } else {
      ins("mov rsp, rbp");
      ins("pop rbp");
      ins("ret");
    }
  } else if (line == "RETN") {
    if (coroutine) {
      ins("call kv_coro_finish");
    } else {
      ins("xor eax, eax");
      ins("mov rsp, rbp");
      ins("pop rbp");
      ins("ret");
    }
  } else if (line == "HALT") {
    ins("xor eax, eax");
    ins("mov rsp, rbp");
    ins("pop rbp");
    ins("ret");
  } else if (op == "SPAWN") {
    ins("lea rcx, [kv_fn_" + std::string(f.a) + "]");
    ins("call kv_coro_spawn");
  } else if (line == "YIELD") {
    ins("call kv_coro_yield");
  }
  // REC, RFIELD, ENUM, EVARIANT and unknown opcodes write nothing.
}

}  // namespace kv::gen
