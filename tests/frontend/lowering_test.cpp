// In-process checks of the front end on inputs too large or too odd for golden files.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "grammar.h"
#include "lowerir.h"

using kv::CannotOpenFile;
using kv::frontend::FileAccess;
using kv::kMaxNesting;
using kv::frontend::StringSink;

namespace {

StringSink lower(const std::string& source) {
  StringSink sink;
  kv::frontend::lower_program(source, sink);
  return sink;
}

size_t count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++n;
  return n;
}

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

FileAccess memory_files(const std::map<std::string, std::string>& files) {
  return FileAccess{[](const std::string& name) { return "lib/" + name; },
                    [files](const std::string& path, std::string& text) {
                      auto it = files.find(path);
                      if (it == files.end()) return false;
                      text = it->second;
                      return true;
                    }};
}

TEST(Nesting, DeepestAllowedParenthesesLowerCleanly) {
  // The statement's expression is one level, each parenthesis one more.
  const size_t parens = kMaxNesting - 1;
  StringSink s = lower("x = " + repeat("(", parens) + "1" + repeat(")", parens) + ":");
  EXPECT_EQ(s.ir, "CONST 1\r\nSTORE x\r\n");
  EXPECT_EQ(s.err, "");
}

TEST(Nesting, TooDeepExpressionIsReportedNotOverflowed) {
  const size_t parens = kMaxNesting;
  StringSink s = lower("x = " + repeat("(", parens) + "1" + repeat(")", parens) + ":");
  EXPECT_EQ(count(s.err, "lowerir: nesting deeper than 1000 levels at pos"), 1u);
  // The innermost "1" was skipped with the diagnostic, every ")" still matched.
  EXPECT_EQ(s.ir, "STORE x\r\n");
  EXPECT_EQ(s.err, "[err] lowerir: nesting deeper than 1000 levels at pos 1003\r\n");
}

TEST(Nesting, HugeNestingOfEveryKindFinishes) {
  const size_t n = 200000;
  for (const char* open : {"(", "{", "f(", "xs{", "loop while x [ ", "try [ "}) {
    StringSink s = lower("start [ y = " + repeat(std::string(open), n) + "1:");
    EXPECT_NE(s.err.find("nesting deeper than"), std::string::npos) << open;
    EXPECT_EQ(s.ir.rfind("HALT\r\nend\r\n"), s.ir.size() - 11) << open;
  }
  StringSink blocks = lower("start [ " + repeat("loop while x [ ", n) + repeat("] ", n) + "]");
  EXPECT_NE(blocks.err.find("nesting deeper than"), std::string::npos);
  // Every loop that was entered is closed: as many exits as heads.
  EXPECT_EQ(count(blocks.ir, "JF .L"), count(blocks.ir, "JMP .L"));
}

TEST(Nesting, RepeatedPrefixOperatorsDoNotRecurse) {
  const size_t n = 1000000;
  StringSink s = lower("x = " + repeat("not ", n) + repeat("-", n) + "a:");
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(count(s.ir, "NEG\r\n"), n);
  EXPECT_EQ(count(s.ir, "NOT\r\n"), n);
  EXPECT_EQ(s.ir.find("NEG"), std::string("LOAD a\r\n").size());
}

TEST(Precedence, EveryOperatorAtItsLevelLeftToRight) {
  // Each row would come out in another order if a level bound looser or tighter, or
  // associated to the right. Lines are joined with "|".
  const struct {
    const char* expr;
    const char* lines;
  } cases[] = {
      {"a == b != c < d", "LOAD a|LOAD b|BIN ==|LOAD c|BIN !=|LOAD d|BIN <"},
      {"a > b + c <= d >= e", "LOAD a|LOAD b|LOAD c|BIN +|BIN >|LOAD d|BIN <=|LOAD e|BIN >="},
      {"a - b * c + d", "LOAD a|LOAD b|LOAD c|BIN *|BIN -|LOAD d|BIN +"},
      {"a * b / -c % d", "LOAD a|LOAD b|BIN *|LOAD c|NEG|BIN /|LOAD d|BIN %"},
      {"not a < b or c and d",
       "LOAD a|LOAD b|BIN <|NOT|DUP|JT .L0|POP|LOAD c|DUP|JF .L1|POP|LOAD d|.L1|BOOL|.L0|BOOL"},
  };
  for (const auto& c : cases) {
    std::string want = c.lines;
    for (size_t at = want.find('|'); at != std::string::npos; at = want.find('|', at))
      want.replace(at, 1, "\r\n");
    StringSink s = lower(std::string("x = ") + c.expr + ":");
    EXPECT_EQ(s.ir, want + "\r\nSTORE x\r\n") << c.expr;
    EXPECT_EQ(s.err, "") << c.expr;
  }
}

TEST(Interpolation, InnerLiteralsAreLoweredThroughFreshStreams) {
  // A quote inside a literal is always escaped, so an expression text that holds a
  // literal holds a stray backslash before it; the kvlog level swallows that one and
  // the inner literal, with its own interpolation, becomes the argument.
  StringSink s = lower(R"(x = "a${kvlog.\"b${y}\"}c":)");
  EXPECT_EQ(s.ir,
            "STR a\r\nSTR b\r\nLOAD y\r\nTOSTR\r\nBIN +\r\nLOG \\ 1\r\nTOSTR\r\nBIN +\r\n"
            "STR \\\\\"}c\r\nBIN +\r\nSTORE x\r\n");
  EXPECT_EQ(s.err,
            "[err] lowerir: expected '(' at pos 4 got b${y\r\n"
            "[err] lowerir: expected ')' at pos 5 got \r\n");
}

TEST(Interpolation, DeepSelfNestingIsBoundedAndLinear) {
  // Each level re-lexes the rest of the literal; the level bound keeps this linear.
  const std::string deep = "x = \"" + repeat("${kvlog.\\\"", 200000) + "\":";
  StringSink s = lower(deep);
  EXPECT_EQ(count(s.err, "interpolation nested deeper than 16 levels"), 1u);
  EXPECT_EQ(count(s.err, "expected '('"), 16u);
  EXPECT_EQ(count(s.ir, "TOSTR\r\n"), 16u);
  EXPECT_EQ(count(s.ir, "LOG \\ 1\r\n"), 16u);
  EXPECT_NE(s.ir.find("STORE x\r\n"), std::string::npos);
}

TEST(Interpolation, LabelsAndPositionsInsideTheExpression) {
  StringSink s = lower("when c [ ] x = \"${a and b} ${)}\":");
  EXPECT_EQ(s.ir,
            "LOAD c\r\nJF .L1\r\nJMP .L0\r\n.L1\r\n.L0\r\n"
            "LOAD a\r\nDUP\r\nJF .L2\r\nPOP\r\nLOAD b\r\n.L2\r\nBOOL\r\nTOSTR\r\n"
            "STR  \r\nBIN +\r\nTOSTR\r\nBIN +\r\nSTORE x\r\n");
  // The position counts tokens of the interpolated expression, not of the file.
  EXPECT_EQ(s.err, "[err] lowerir: unexpected ')' (kind=sym) at pos 1\r\n");
}

TEST(LargeInput, TenMegabyteSingleLine) {
  // About 10 MB with no line break: statements, a long sum and a long literal.
  std::string line = repeat("let int v = a + 12 * (b - 3): ", 200000);
  line += "s = \"" + std::string(2000000, 'z') + "\": t = " + repeat("x + ", 500000) + "x:";
  ASSERT_GT(line.size(), 10000000u);
  StringSink s = lower(line);
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(count(s.ir, "DECL int v 1\r\n"), 200000u);
  EXPECT_EQ(count(s.ir, "BIN +\r\n"), 200000u + 500000u);
  EXPECT_NE(s.ir.find("STR " + std::string(2000000, 'z') + "\r\nSTORE s\r\n"), std::string::npos);
}

TEST(LargeInput, LongTokensAreCutInDiagnostics) {
  // Every open parenthesis reports the literal that stands where its ")" should be.
  const std::string literal(1000000, 'a');
  StringSink s = lower("x = " + repeat("(", 500) + "y \"" + literal + "\"");
  const std::string cut = "got " + std::string(kv::frontend::kMaxDiagValue, 'a') + "...\r\n";
  EXPECT_EQ(count(s.err, cut), 501u);  // 500 times ")" and once ":"
  EXPECT_LT(s.err.size(), 501u * 400u);
  // The IR keeps the literal whole.
  EXPECT_NE(s.ir.find("STR " + literal + "\r\nPOP\r\n"), std::string::npos);
  // Values up to the limit are quoted in full.
  StringSink t = lower("x = (y \"" + std::string(kv::frontend::kMaxDiagValue, 'b') + "\"");
  EXPECT_EQ(t.err.find("..."), std::string::npos);
  EXPECT_NE(t.err.find("got " + std::string(kv::frontend::kMaxDiagValue, 'b') + "\r\n"),
            std::string::npos);
}

TEST(LargeInput, RandomBytesNeverStopTheStage) {
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 1 << 20; ++i) junk.push_back(static_cast<char>(rng()));
  StringSink s = lower(junk);
  EXPECT_FALSE(s.err.empty());
  // Tokens of the alphabet most likely to nest, shuffled.
  const char* pieces[] = {"(", ")", "[", "]", "{", "}", "\"", "${", "loop ", "when ", "or ",
                          "try ", "catch ", "x", ":", "->", ",", "match ", "fn ", "rec "};
  std::string soup;
  for (int i = 0; i < 200000; ++i) soup += pieces[rng() % 20];
  StringSink t = lower(soup);
  EXPECT_FALSE(t.err.empty());
}

TEST(RunStage, UsedNamesAreResolvedAndTheMainPathIsNot) {
  // The used name goes through FileAccess.resolve ("lib/" here); the main path is read
  // as given, and counts as used, so using it again adds nothing.
  const FileAccess files = memory_files(
      {{"main.kv", "use \"ok.kv\": use \"main.kv\": x = 1:"}, {"lib/ok.kv", "y = 2:"}});
  StringSink sink;
  kv::frontend::run_stage("main.kv", sink, files);
  EXPECT_EQ(sink.ir, "CONST 2\r\nSTORE y\r\nCONST 1\r\nSTORE x\r\n");
  EXPECT_EQ(sink.err, "");
}

TEST(RunStage, MissingFilesThrowBeforeAnyIr) {
  const FileAccess files = memory_files({{"main.kv", "x = 1:"}, {"lib/ok.kv", "use \"gone.kv\":"}});
  FileAccess direct = files;
  direct.resolve = [](const std::string& name) { return name; };
  StringSink sink;
  EXPECT_THROW(kv::frontend::run_stage("nope.kv", sink, direct), CannotOpenFile);
  FileAccess with_main = memory_files({{"main.kv", "x = 1: use \"ok.kv\":"}, {"lib/ok.kv", "use \"gone.kv\":"}});
  with_main.read = [inner = with_main.read](const std::string& path, std::string& text) {
    return inner(path == "main.kv" ? "main.kv" : path, text);
  };
  EXPECT_THROW(kv::frontend::run_stage("main.kv", sink, with_main), CannotOpenFile);
  EXPECT_EQ(sink.ir, "");
  EXPECT_EQ(sink.err, "");
}

}  // namespace
