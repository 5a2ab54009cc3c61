// Unit tests of emitasm: the text operands of the data section, line splitting, the
// module's frame, the runtime text convention, and IR that breaks the stack discipline.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "division.h"
#include "emitasm.h"
#include "runtime_text.h"

namespace {

std::vector<std::string> lines_of(const std::string& module) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < module.size()) {
    size_t end = module.find("\r\n", pos);
    if (end == std::string::npos) end = module.size();
    out.push_back(module.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

// The lines from `first` (included) up to the next line equal to `stop` (excluded).
std::vector<std::string> section(const std::string& module, const std::string& first, const std::string& stop) {
  std::vector<std::string> all = lines_of(module), out;
  bool in = false;
  for (const std::string& l : all) {
    if (l == first) {
      in = true;
    } else if (in && l == stop) {
      break;
    }
    if (in) out.push_back(l);
  }
  return out;
}

std::string join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += l + "|";
  return s;
}

// Lines of the data section before the pools: "section .data" and the runtime's constants.
const size_t kDataPiece = 21;

const char* const kTinyRuntime = "kv_alloc:\n    ret\n";

TEST(DbOperands, DecodesTheIrEscapes) {
  EXPECT_EQ(kv::db_operands(""), "0");
  EXPECT_EQ(kv::db_operands("\""), "34,0");
  EXPECT_EQ(kv::db_operands("ab\\\\nz"), "\"ab\",10,\"z\",0");
  EXPECT_EQ(kv::db_operands("\\\\r\\\\t"), "13,9,0");
  // Four backslashes: the doubled form of a source backslash pair, one byte 92.
  EXPECT_EQ(kv::db_operands("a\\\\\\\\b"), "\"a\",92,\"b\",0");
  // Two backslashes and a quote; two backslashes and another byte; two at the end.
  EXPECT_EQ(kv::db_operands("\\\\\"x"), "34,\"x\",0");
  EXPECT_EQ(kv::db_operands("\\\\q"), "92,\"q\",0");
  EXPECT_EQ(kv::db_operands("x\\\\"), "\"x\",92,0");
  // A lone backslash is an ordinary byte; so is a blank.
  EXPECT_EQ(kv::db_operands("a\\b c"), "\"a\\b c\",0");
  EXPECT_EQ(kv::db_operands("say \"hi\""), "\"say \",34,\"hi\",34,0");
}

TEST(Lines, CrLfAndBlankLinesGiveTheSameModule) {
  std::string lf = "main\nCONST 1\nLOG info 1\nHALT\nend";
  std::string crlf = "\r\nmain\r\n\r\nCONST 1\r\nLOG info 1\r\n\n\r\nHALT\r\nend\r\n";
  EXPECT_EQ(kv::emit_module(lf), kv::emit_module(crlf));
  auto lines = kv::split_ir_lines(crlf);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "main");
  EXPECT_EQ(lines[4], "end");
  // Only one CR is removed, and a line starting with a blank is kept as it is.
  auto odd = kv::split_ir_lines(" CONST 1\r\r\n");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0], " CONST 1\r");
}

TEST(Module, HeaderStartupAndSectionsInOrder) {
  std::string m = kv::emit_module_with_runtime("", kTinyRuntime);
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m.substr(m.size() - 2), "\r\n");
  // Every line ends with CR LF: no bare line feed and no bare carriage return.
  for (size_t i = 0; i < m.size(); ++i) {
    if (m[i] == '\n') {
      ASSERT_TRUE(i > 0 && m[i - 1] == '\r') << i;
    }
    if (m[i] == '\r') {
      ASSERT_TRUE(i + 1 < m.size() && m[i + 1] == '\n') << i;
    }
  }
  auto lines = lines_of(m);
  ASSERT_GT(lines.size(), 40u);
  EXPECT_EQ(lines[0], "default rel");
  EXPECT_EQ(lines[1], "global kv_start");
  EXPECT_EQ(lines[4], "section .text");
  EXPECT_EQ(lines[5], "kv_start:");
  EXPECT_EQ(lines[6], "    sub rsp, 40");
  EXPECT_EQ(lines[18], "    call AddVectoredExceptionHandler");
  EXPECT_EQ(lines[22], "    call kv_heap_init");
  EXPECT_EQ(lines[28], "    call kv_user_main");
  EXPECT_EQ(lines[30], "    call kv_exit");
  EXPECT_EQ(lines[31], "kv_user_main:");
  auto data = section(m, "section .data", "section .bss");
  ASSERT_EQ(data.size(), kDataPiece + 9u);
  EXPECT_EQ(data[5], "kv_sys_prefix: db 'cmd.exe /c \"',0");
  EXPECT_EQ(data[7], "dbl_ten: dq 10.0");
  // The section line, the fault stack, then the runtime's cells, the globals (none here) and the end: the
  // collector scans from the first cell to the end, not the fault stack.
  auto bss = section(m, "section .bss", "");
  ASSERT_EQ(bss.size(), 48u);
  EXPECT_EQ(bss[1], "fault_stack: resb 65536");
  EXPECT_EQ(bss[2], "stdout_h: resq 1");
  EXPECT_EQ(bss[20], "sched_ctx: resq 1");
  EXPECT_EQ(bss[47], "bss_end:");
}

TEST(Module, EmptyProgramReturnsFromItsBody) {
  // The empty IR is a program with an empty body: it must return, not run into the runtime.
  std::string m = kv::emit_module_with_runtime("", kTinyRuntime);
  EXPECT_EQ(join(section(m, "kv_user_main:", "kv_alloc:")),
            "kv_user_main:|    push rbp|    mov rbp, rsp|    xor eax, eax|    mov rsp, rbp|    pop rbp|    ret|");
}

TEST(Module, ErrorExitsFollowTheRuntimeAndInternEachMessage) {
  std::string m = kv::emit_module_with_runtime("main\nSTR runtime error: out of memory\nPOP\nHALT\nend\n", kTinyRuntime);
  auto exits = section(m, "kv_div0:", "section .data");
  ASSERT_EQ(exits.size(), 9u * 23u);
  EXPECT_EQ(exits[1], "    lea rcx, [str_1]");
  EXPECT_EQ(exits[15], ".noh: lea rcx, [str_1]");
  EXPECT_EQ(exits[22], "    call kv_exit");
  // The out-of-memory message was interned by the program first and keeps its entry.
  EXPECT_EQ(exits[4 * 23], "kv_oom:");
  EXPECT_EQ(exits[4 * 23 + 1], "    lea rcx, [str_0]");
  EXPECT_EQ(exits[6 * 23 + 1], "    lea rcx, [str_6]");
  auto data = section(m, "section .data", "section .bss");
  ASSERT_EQ(data.size(), kDataPiece + 9u);
  EXPECT_EQ(data[kDataPiece], "str_0: db \"runtime error: out of memory\",0");
  EXPECT_EQ(data[kDataPiece + 6], "str_6: db \"runtime error: map key not found\",0");
}

TEST(RuntimeText, CommentsBlanksIndentationAndPoolLabels) {
  const char* rt =
      "; a comment\n"
      "   ; an indented comment\n"
      "\n"
      "  \t \n"
      "kv_alloc:\r\n"
      "\tmov rax, 1   \n"
      "        lea rcx, [@@{@@]\n"
      ".lsl: cmp byte [rcx+rax], 0\n"
      "    lea rcx, [@@x y@@] ; not a comment line\n"
      "    db @@a@@, @@{@@\n";
  std::string m = kv::emit_module_with_runtime("main\nSTR x y\nPOP\nHALT\nend\n", rt);
  EXPECT_EQ(join(section(m, "kv_alloc:", "kv_div0:")),
            "kv_alloc:|    mov rax, 1|    lea rcx, [str_1]|.lsl: cmp byte [rcx+rax], 0|"
            "    lea rcx, [str_0] ; not a comment line|    db str_2, str_1|");
  auto data = section(m, "section .data", "section .bss");
  EXPECT_EQ(data[kDataPiece], "str_0: db \"x y\",0");
  EXPECT_EQ(data[kDataPiece + 1], "str_1: db \"{\",0");
  EXPECT_EQ(data[kDataPiece + 2], "str_2: db \"a\",0");
  EXPECT_EQ(data[kDataPiece + 3], "str_3: db \"runtime error: division by zero\",0");
}

TEST(RuntimeText, EmbeddedRuntimeInternsBracesBeforeTheMessages) {
  std::string m = kv::emit_module("");
  auto data = section(m, "section .data", "section .bss");
  ASSERT_EQ(data.size(), kDataPiece + 12u);
  EXPECT_EQ(data[kDataPiece], "str_0: db \"{\",0");
  EXPECT_EQ(data[kDataPiece + 1], "str_1: db \", \",0");
  EXPECT_EQ(data[kDataPiece + 2], "str_2: db \"}\",0");
  EXPECT_EQ(data[kDataPiece + 3], "str_3: db \"runtime error: division by zero\",0");
  EXPECT_EQ(data[kDataPiece + 9], "str_9: db \"runtime error: map key not found\",0");
  EXPECT_EQ(data[kDataPiece + 11], "str_11: db \"runtime error: invalid memory access\",0");
  // The runtime block starts with the allocator, exactly as every module carries it: a
  // request that does not fit the (always empty) bump region goes on to the heap.
  EXPECT_EQ(join(section(m, "kv_alloc:", "kv_strlen:")),
            "kv_alloc:|    add rcx, 15|    and rcx, -16|    mov rax, [heap_cur]|    lea r10, [rax+rcx]|"
            "    cmp r10, [heap_end]|    ja kv_alloc_block|    mov [heap_cur], r10|    ret|");
}

TEST(RuntimeText, LayoutNamesAndExitFieldsBecomeTheirValues) {
  // The group files name the layout; the module carries only the values. An upper-case
  // word left in it would be a name that layout.def does not define (or misspells).
  EXPECT_NE(kv::runtime_text().routines.find("[rcx+KV_LIST_DATA]"), std::string_view::npos);
  std::string m = kv::emit_module("");
  EXPECT_NE(m.find("\r\n    mov rax, [rcx+16]\r\n"), std::string::npos);
  EXPECT_NE(m.find("\r\ng_exc_tgt: resq 64\r\n"), std::string::npos);
  std::string left;
  for (size_t i = 0; i < m.size();) {
    if (m[i] == '"' || m[i] == '\'') {  // a text's words are its own (db "KAVEL_GC",0)
      size_t close = m.find(m[i], i + 1);
      i = close == std::string::npos ? m.size() : close + 1;
      continue;
    }
    size_t j = i;
    while (j < m.size() && (std::isalnum(static_cast<unsigned char>(m[j])) || m[j] == '_')) ++j;
    if (j == i) {
      ++i;
      continue;
    }
    std::string word = m.substr(i, j - i);
    bool upper = std::isupper(static_cast<unsigned char>(word[0]));
    for (char c : word) upper = upper && !std::islower(static_cast<unsigned char>(c));
    if (upper) left += word + " ";
    i = j;
  }
  EXPECT_EQ(left, "");
}

TEST(Typing, KindCellsComeOnlyWithValuesOfRunTimeKind) {
  // An element read from a list keeps its kind in a cell below the locals and loop cells,
  // and the frame grows by that cell; a routine without such values keeps its frame.
  std::string m = kv::emit_module_with_runtime(
      "fn f int\nparam list xs\nLOAD xs\nCONST 0\nINDEX\nRET\nRETN\nend\n"
      "fn h int\nparam int n\nLOAD n\nRET\nRETN\nend\nmain\nHALT\nend\n",
      kTinyRuntime);
  std::string f = join(section(m, "kv_fn_f:", "kv_fn_h:"));
  EXPECT_NE(f.find("sub rsp, 16|"), std::string::npos) << f;
  EXPECT_NE(f.find("call kv_list_get|    push rax|    mov [rbp-16], rdx|"), std::string::npos) << f;
  EXPECT_NE(f.find("cmp qword [rbp-16], 1|    jne .cg0|    cvttsd2si rax, qword [rsp+0]|"), std::string::npos) << f;
  std::string h = join(section(m, "kv_fn_h:", "kv_user_main:"));
  EXPECT_NE(h.find("sub rsp, 8|"), std::string::npos) << h;
  EXPECT_EQ(h.find("kv_dyn"), std::string::npos) << h;
}

TEST(Typing, FirstRecordedTypeStays) {
  // Stored first as an integer, later as a text: LOAD still pushes "i".
  std::string m = kv::emit_module_with_runtime(
      "main\nCONST 1\nSTORE v\nSTR t\nSTORE v\nLOAD v\nLOG info 1\nHALT\nend\n", kTinyRuntime);
  std::string body = join(section(m, "kv_user_main:", "kv_alloc:"));
  EXPECT_NE(body.find("mov rcx, [rsp+0]|    call kv_print_int|"), std::string::npos) << body;
  // A text global declared at top level is a text from the start.
  m = kv::emit_module_with_runtime("DECL text g 0\nmain\nLOAD g\nLOG info 1\nHALT\nend\n", kTinyRuntime);
  body = join(section(m, "kv_user_main:", "kv_alloc:"));
  EXPECT_NE(body.find("mov rcx, [rsp+0]|    call kv_print_str|"), std::string::npos) << body;
}

TEST(Functions, BlocksEndAtEndFnOrMain) {
  // A block cut short by the next "fn" still lets that function be written, and a block
  // without its return gets one.
  std::string m = kv::emit_module_with_runtime("fn a int\nCONST 1\nfn b int\nRETN\nend\nmain\nHALT\nend\n", kTinyRuntime);
  std::string text = join(section(m, "kv_fn_a:", "kv_alloc:"));
  EXPECT_EQ(text,
            "kv_fn_a:|    push rbp|    mov rbp, rsp|    mov rax, 1|    push rax|    xor eax, eax|    mov rsp, rbp|"
            "    pop rbp|    ret|kv_fn_b:|    push rbp|    mov rbp, rsp|    xor eax, eax|    mov rsp, rbp|    pop rbp|    ret|");
}

TEST(Functions, CoroutineHaltKeepsThePlainEpilogue) {
  std::string m = kv::emit_module_with_runtime("fn c int\nYIELD\nHALT\nRETN\nend\n", kTinyRuntime);
  EXPECT_EQ(join(section(m, "kv_fn_c:", "kv_alloc:")),
            "kv_fn_c:|    push rbp|    mov rbp, rsp|    call kv_coro_yield|    xor eax, eax|    mov rsp, rbp|"
            "    pop rbp|    ret|    call kv_coro_finish|");
}

TEST(Discipline, MalformedStackUseNeverFails) {
  // Pops from an empty type stack read as integers; INEXT and IPOP outside a loop write
  // nothing; counts beyond what was pushed are cut to what there is.
  std::string m = kv::emit_module_with_runtime(
      "main\nBIN +\nIPOP\nINEXT i .L1\nIPOP\nCONST 1\nLIST 99999999999999999999999\nLOG info 7\nCALL printout 12\n"
      "MAP 5\nCALL f x\nNEG\nTOSTR\nSETIDX\nFSET R f\nRET\nHALT\nend\n",
      kTinyRuntime);
  std::string body = join(section(m, "kv_user_main:", "kv_alloc:"));
  EXPECT_NE(body.find("    mov ecx, 4|    call kv_list_new|    mov r10, [rax+16]|    pop rcx|    mov [r10+8], rcx|"
                      "    pop rcx|    mov [r10+0], rcx|"
                      "    mov qword [rax], 2|"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find("INEXT"), std::string::npos);
  EXPECT_EQ(body.find("[rbp-"), std::string::npos) << body;
  EXPECT_NE(body.find("    call kv_fn_f|    push rax|"), std::string::npos) << body;
  EXPECT_NE(m.find("kv_g_i: resq 1"), std::string::npos);
}

TEST(Discipline, HugeCountsStayProportionalToTheInput) {
  std::string ir = "main\n";
  for (int i = 0; i < 2000; ++i) ir += "CALL printout 4000000000\n";
  std::string m = kv::emit_module_with_runtime(ir, kTinyRuntime);
  EXPECT_LT(m.size(), 200000u);
}

TEST(Builtins, UserFunctionsHideBuiltinsAndUnknownNamesAreCalls) {
  std::string m = kv::emit_module_with_runtime(
      "fn len text\nparam int x\nSTR x\nRET\nRETN\nend\nmain\nCONST 1\nCALL len 1\nCALL later 1\n"
      "STR t\nCALL totext 1\nLOG info 2\nHALT\nend\n",
      kTinyRuntime);
  std::string body = join(section(m, "kv_user_main:", "kv_fn_len:"));
  EXPECT_NE(body.find("    call kv_fn_len|    add rsp, 8|    push rax|    call kv_fn_later|"), std::string::npos)
      << "the user len, then the built-in would be wrong: " << body;
  EXPECT_NE(body.find("    call kv_fn_later|    add rsp, 8|    push rax|"), std::string::npos) << body;
  // totext of a text leaves it as it is; the result prints as a text.
  EXPECT_NE(body.find("    lea rax, [str_0]|    push rax|    mov rcx, [rsp+8]|    call kv_print_int|"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("    mov rcx, [rsp+0]|    call kv_print_str|"), std::string::npos) << body;
  EXPECT_EQ(body.find("kv_int_to_str"), std::string::npos) << body;
}

}  // namespace

// Division by a constant through a magic multiplier is exact for every dividend.
TEST(Division, MagicQuotientsAreExact) {
  const int64_t divisors[] = {2, 3, 5, 6, 7, 10, 16, 100, 641, 1000000007, 4294967297LL, INT64_MAX,
                              -2, -3, -7, -10, -1000000007, INT64_MIN + 1};
  std::vector<int64_t> dividends = {0, 1, -1, 2, -2, 6, -6, 7, -7, 13, -13, INT64_MAX, INT64_MIN,
                                    INT64_MAX - 1, INT64_MIN + 1, 1LL << 62, -(1LL << 62)};
  uint64_t x = 88172645463325252ULL;
  for (int i = 0; i < 20000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    dividends.push_back(static_cast<int64_t>(i % 2 ? x : x >> (i % 63)));
  }
  for (int64_t d : divisors) {
    const kv::gen::Magic m = kv::gen::signed_magic(d);
    for (int64_t n : dividends) {
      if (n == INT64_MIN && d == -1) continue;
      ASSERT_EQ(kv::gen::magic_quotient(n, d, m), n / d) << n << " / " << d;
    }
  }
}
