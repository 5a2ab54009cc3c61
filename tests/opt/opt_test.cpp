// opt rewrites the IR into IR that computes the same: each case below is a piece of IR and
// what opt makes of it; lines it does not rewrite keep every byte and get CR LF ends.
#include <gtest/gtest.h>

#include "opt.h"

#ifndef _WIN32
#include "test_util.h"
#endif

namespace {

TEST(OptimiseIr, LinesComeBackWithCrLfEnds) {
  EXPECT_EQ(kv::optimise_ir("main\r\nCONST 7\r\nHALT\r\nend\r\n"), "main\r\nCONST 7\r\nHALT\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir("main\nHALT\nend\n"), "main\r\nHALT\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir("main\nend"), "main\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir(""), "");
}

// Each case: IR in (lines joined by "|"), IR out.
struct Case {
  const char* in;
  const char* out;
};

std::string lines(const char* joined) {
  std::string out;
  for (const char* p = joined; *p; ++p) out += *p == '|' ? std::string("\r\n") : std::string(1, *p);
  return out + "\r\n";
}

TEST(OptimiseIr, PassesKeepWhatTheProgramComputes) {
  const Case cases[] = {
      // integer constants fold with the generated code's wrap-around
      {"main|CONST 2|CONST 3|BIN *|CONST 1|BIN +|LOG info 1|HALT|end", "main|CONST 7|LOG info 1|HALT|end"},
      {"main|CONST 9223372036854775807|CONST 1|BIN +|POP|HALT|end", "main|HALT|end"},
      {"main|CONST 9223372036854775807|CONST 1|BIN +|LOG info 1|HALT|end", "main|CONST -9223372036854775808|LOG info 1|HALT|end"},
      {"main|CONST 7|CONST 2|BIN %|CONST 3|NEG|BIN <|NOT|LOG info 1|HALT|end", "main|CONST 1|LOG info 1|HALT|end"},
      // a division by zero is left for the program to raise; the smallest int by -1 wraps
      {"main|CONST 1|CONST 0|BIN /|LOG info 1|HALT|end", "main|XBIN / #1 #0|LOG info 1|HALT|end"},
      {"main|CONST -9223372036854775808|CONST -1|BIN /|CONST -9223372036854775808|CONST -1|BIN %|LOG info 2|HALT|end",
       "main|CONST -9223372036854775808|CONST 0|LOG info 2|HALT|end"},
      // floats, texts and operands that are not constants stay as they are
      {"main|CONSTF 1.5|CONST 2|BIN +|STR a|CONST 1|BIN +|LOG info 2|HALT|end",
       "main|CONSTF 1.5|XBIN + ^ #2|STR a|XBIN + ^ #1|LOG info 2|HALT|end"},
      // a branch on a constant is decided, and the code it skips goes
      {"main|CONST 0|JF .L1|CONST 5|LOG info 1|.L1|HALT|end", "main|HALT|end"},
      {"main|CONST 1|JF .L1|CONST 5|LOG info 1|.L1|HALT|end", "main|CONST 5|LOG info 1|HALT|end"},
      {"main|CONST 1|DUP|JF .L0|POP|LOAD b|.L0|BOOL|JF .L9|STR y|LOG info 1|.L9|HALT|end",
       "main|LOAD b|BOOL|JF .L9|STR y|LOG info 1|.L9|HALT|end"},
      // a jump to a jump goes straight to the end of the chain; a cycle is left alone
      {"main|JMP .L1|.L2|JMP .L3|.L1|JMP .L2|.L3|HALT|end", "main|HALT|end"},
      {"main|LOAD c|JT .L1|HALT|.L1|JMP .L1|end", "main|XPUSH c|JT .L1|HALT|.L1|JMP .L1|end"},
      // code after a return goes, unless it declares or structures something
      {"fn f int|CONST 1|RET|CONST 1|CALL g 1|POP|.L4|RETN|end", "fn f int|XPUSH #1|RET|RETN|end"},
      {"fn f int|RETN|CONST 1|DECL text s 1|RETN|end", "fn f int|RETN|XPUSH #1|DECL text s 1|RETN|end"},
      // extended lines: operands named in place, compare-and-branch, counters in place
      {"fn f int|param int n|LOAD n|CONST 2|BIN <|JF .L1|LOAD n|RET|.L1|LOAD n|CONST 1|BIN -|RET|RETN|end",
       "fn f int|param int n|XJF < n #2 .L1|XPUSH n|RET|.L1|XBIN - n #1|RET|RETN|end"},
      {"main|LOAD i|CONST 1|BIN +|STORE i|LOAD t|LOAD i|BIN -|STORE i|HALT|end",
       "main|XINC i 1|XBIN - t i|STORE i|HALT|end"},
      {"main|CONST 1|CONST 9|CONST none|RANGE|.L0|INEXT i .L2|JMP .L0|.L1|IPOP|.L2|HALT|end",
       "main|CONST 1|CONST 9|CONST none|RANGE|.L0|XNEXT i .L2 1|JMP .L0|IPOP|.L2|HALT|end"},
      {"main|CONST 9|CONST 1|CONST none|RANGE|.L0|INEXT i .L2|JMP .L0|.L1|IPOP|.L2|HALT|end",
       "main|CONST 9|CONST 1|CONST none|RANGE|.L0|INEXT i .L2|JMP .L0|IPOP|.L2|HALT|end"},
      {"main|LOAD xs|LOAD i|INDEX|LOAD a|LOAD b|BIN ==|JT .L3|.L3|HALT|end",
       "main|XINDEX xs i|XJT == a b .L3|.L3|HALT|end"},
      // an element set in place after its value: an operand, an element or an operation;
      // a value that calls, or a branch between, keeps the basic lines
      {"main|LOAD xs|LOAD i|LOAD t|SETIDX|LOAD xs|CONST 0|LOAD ys|LOAD j|INDEX|SETIDX|HALT|end",
       "main|XPUSH t|XSETIDX xs i|XINDEX ys j|XSETIDX xs #0|HALT|end"},
      {"main|LOAD xs|LOAD i|LOAD a|CONST 2|BIN *|SETIDX|HALT|end", "main|XBIN * a #2|XSETIDX xs i|HALT|end"},
      {"main|LOAD xs|LOAD i|LOAD a|CALL f 1|SETIDX|LOAD xs|LOAD i|LOAD a|BIN <|JF .L1|SETIDX|.L1|HALT|end",
       "main|LOAD xs|LOAD i|LOAD a|CALL f 1|SETIDX|LOAD xs|XJF < i a .L1|SETIDX|.L1|HALT|end"},
      // a value or a call's result for the line after, which takes it at once
      {"fn f int|LOAD x|XCALL g 1|RET|RETN|end", "fn f int|LOAD x|XCALL g 1|RET|RETN|end"},
      {"fn f int|LOAD x|CALL g 1|LOAD y|CALL g 1|BIN +|RET|RETN|end",
       "fn f int|LOAD x|CALL g 1|LOAD y|XCALL g 1|XBIN + ^ ^|RET|RETN|end"},
      {"main|CALL g 0|CONST 2|BIN *|STORE v|HALT|end", "main|XCALL g 0|XBIN * ^ #2|STORE v|HALT|end"},
  };
  for (const Case& c : cases) EXPECT_EQ(kv::optimise_ir(lines(c.in)), lines(c.out)) << c.in;
}

TEST(OptimiseIr, OperandsKeepEveryByte) {
  // Empty lines, blanks at line ends, escaped text and bytes above 127 survive as they are.
  std::string ir = "STR \r\nSTR a\\r\\nb  \r\n\r\nSTR \xC3\xA9\t\x01\r\n";
  EXPECT_EQ(kv::optimise_ir(ir), ir);
  EXPECT_EQ(kv::optimise_ir(std::string("STR a\0b\r\n", 9)), std::string("STR a\0b\r\n", 9));
}

#ifndef _WIN32
using kvtest::q;

class OptProgram : public ::testing::Test {
 protected:
  kvtest::fs::path dir;
  void SetUp() override { dir = kvtest::fresh_folder(kvtest::fs::path(KAVEL_TEST_WORK) / "opt"); }
  kvtest::Outcome stage(const std::string& name, const std::string& typed) {
    return kvtest::run(dir / "io", q((kvtest::fs::path(KAVEL_TEST_BIN) / name).string()), typed);
  }
};

TEST_F(OptProgram, ReadsItsPathAndWritesTheIr) {
  std::string ir = "fn add int\r\nparam int a\r\nLOAD a\r\nLOG info 1\r\nRETN\r\nend\r\nmain\r\nHALT\r\nend\r\n";
  kvtest::spit(dir / "in put.ir", ir);
  kvtest::Outcome r = stage("opt", (dir / "in put.ir").string() + "\r\n");
  EXPECT_EQ(r.out, ir);
  EXPECT_EQ(r.err, "[err] Kavel IR file to optimise: \r\n");
  EXPECT_EQ(r.code, 0u);
}

TEST_F(OptProgram, MissingFileIsTheRuntimeError) {
  kvtest::Outcome r = stage("opt", (dir / "absent.ir").string() + "\r\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "[err] Kavel IR file to optimise: \r\nruntime error: cannot open file\r\n");
  EXPECT_EQ(r.code, 1u);
  kvtest::Outcome folder = stage("opt", dir.string());
  EXPECT_EQ(folder.code, 1u);
  EXPECT_EQ(folder.out, "");
}

TEST_F(OptProgram, FrontEndOutputBecomesExtendedLines) {
  kvtest::spit(dir / "p.kv",
               "fn twice(int x) -> int [ give x * 2: ]\n"
               "start [\n  let text t = \"a\\tb ${twice(21)}\":\n  println(t):\n]\n");
  kvtest::Outcome ir = stage("lowerir", (dir / "p.kv").string());
  ASSERT_EQ(ir.code, 0u) << ir.err;
  kvtest::spit(dir / "p.ir", ir.out);
  kvtest::Outcome r = stage("opt", (dir / "p.ir").string());
  EXPECT_EQ(r.code, 0u);
  EXPECT_NE(r.out.find("XBIN * x #2\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("STR a\\\\tb \r\n"), std::string::npos) << r.out;
}
#endif

}  // namespace
