// One group per message of the catalogue: the exact line, its location and the token
// written after "near".
#include <gtest/gtest.h>

#include "check_util.h"

namespace kv::vetter::test {
namespace {

TEST(ExpectedSymbol, MissingColonIsReportedAtTheNextToken) {
  const auto r = run("start [\n  let int x = 1\n]\n");
  EXPECT_EQ(r.diagnostics, line("line 3", "expected ':'", "]"));
  EXPECT_EQ(r.error_count, 1);
}

TEST(ExpectedSymbol, UnterminatedBlockNamesNothingAfterNear) {
  // Past the last token the location is the last token's, and the value is empty.
  EXPECT_EQ(diags("start [\n  let int x = 1:\n"), line("line 2", "expected ']'", ""));
}

TEST(ExpectedKeyword, TryWithoutCatchRecoversWithoutAdvancing) {
  // The missing "catch" and "[" are reported at the same token; the statement after
  // them is checked as the catch block's body, so the closing "]" is missing last.
  const auto r = run("start [\n  try [ ]\n  x = 1:\n]\n");
  EXPECT_EQ(r.diagnostics, line("line 3", "expected keyword 'catch'", "x") +
                               line("line 3", "expected '['", "x") +
                               line("line 4", "expected ']'", ""));
  EXPECT_EQ(r.error_count, 3);
}

TEST(UnexpectedToken, SymbolKeywordAndEndOfInput) {
  const auto r = run("let int x = ):\nlet int z = else:\nlet int y =");
  EXPECT_EQ(r.diagnostics,
            line("line 1", "unexpected token ')' (kind=sym)", ")") +
                // "else" is skipped, then ":" ends the statement.
                line("line 2", "unexpected token 'else' (kind=kw)", "else") +
                line("line 3", "unexpected token '' (kind=eof)", "") +
                line("line 3", "expected ':'", ""));
  EXPECT_EQ(r.error_count, 4);
}

TEST(UndeclaredIdentifier, ReportedAfterTheName) {
  EXPECT_EQ(diags("let int x = y + 1:\n"), line("line 1", "undeclared identifier: y", "+"));
  // A call of an unknown name cannot be linked.
  EXPECT_EQ(diags("let int x = nosuch(1, 2):\n"), line("line 1", "undeclared function: nosuch", "("));
}

TEST(CallArgument, EachPositionAgainstItsParameter) {
  const auto r = run(
      "fn f(int a, text b) [ ]\n"
      "start [\n"
      "  f(\"s\", \"t\"):\n"
      "  f(1, 2):\n"
      "  f(1, \"t\", 3.5):\n"
      "  f():\n"
      "]\n");
  EXPECT_EQ(r.diagnostics,
            line("line 3", "call to f(): argument 1 expects int but got text", ",") +
                line("line 4", "call to f(): argument 2 expects text but got int", ")"));
  EXPECT_EQ(r.error_count, 2);
}

TEST(PrivateField, ReadFromAnotherFileNamesTheDeclaringFile) {
  const FileMap files = {{"lib.kv",
                          "rec Box [\n"
                          "  private int secret:\n"
                          "  int open:\n"
                          "]\n"
                          "fn peek(Box b) -> int [\n"
                          "  give b.secret:\n"  // same file: allowed
                          "]\n"}};
  const auto r = run(
      "use \"lib.kv\":\n"
      "start [\n"
      "  let Box b = Box(1, 2):\n"
      "  let int v = b.secret:\n"
      "  let int w = b.open:\n"
      "]\n",
      files);
  EXPECT_EQ(r.diagnostics,
            line("line 4", "field 'secret' of Box is private (declared in lib.kv)", ":"));
}

TEST(LetInitializer, DeclaredAgainstInitializerType) {
  EXPECT_EQ(diags("let int x = 1.5:\n"),
            line("line 1", "let x: declared int but initializer is float", ":"));
  // The example of the diagnostic line's description: a text literal on line 12.
  EXPECT_EQ(diags(std::string(11, '\n') + "let int x = \"a\":\n"),
            line("line 12", "let x: declared int but initializer is text", ":"));
}

TEST(Give, AgainstTheCurrentReturnType) {
  EXPECT_EQ(diags("fn f() [\n  give \"s\":\n]\n"),
            line("line 2", "give: function returns int but expression is text", ":"));
  EXPECT_EQ(diags("fn f() -> text [\n  give 1:\n]\n"),
            line("line 2", "give: function returns text but expression is int", ":"));
  // At the top level and in the start block a give is compared with int.
  EXPECT_EQ(diags("give \"a\":\nstart [ give 1.5: ]\n"),
            line("line 1", "give: function returns int but expression is text", ":") +
                line("line 2", "give: function returns int but expression is float", ":"));
}

TEST(Spawn, NotAFunction) {
  const auto r = run(
      "fn worker() [ ]\n"
      "start [\n"
      "  let int v = 1:\n"
      "  spawn v():\n"
      "  spawn ghost():\n"
      "  spawn worker():\n"
      "]\n");
  EXPECT_EQ(r.diagnostics, line("line 4", "spawn: 'v' is not a declared function", ":") +
                               line("line 5", "spawn: 'ghost' is not a declared function", ":"));
}

TEST(Spawn, FunctionWithParameters) {
  EXPECT_EQ(diags("fn job(int n) [ ]\nstart [\n  spawn job():\n]\n"),
            line("line 3", "spawn: job() must take zero arguments", ":"));
  // A coroutine starts at a function of the program; a built-in is none.
  EXPECT_EQ(diags("spawn clock():\n"),
            line("line 1", "spawn: 'clock' is a built-in, not a function of the program", ":"));
}

TEST(Assignment, DeclaredNameAgainstValue) {
  EXPECT_EQ(diags("let int x = 1:\nx = \"s\":\n"),
            line("line 2", "x = text but variable declared as int", ":"));
  // An undeclared name is declared by the assignment, silently, with the value's type.
  EXPECT_EQ(diags("z = \"s\":\nlet int w = z:\n"),
            line("line 2", "let w: declared int but initializer is text", ":"));
}

}  // namespace
}  // namespace kv::vetter::test
