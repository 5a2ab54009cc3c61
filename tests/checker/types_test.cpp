// Type results, compatibility, the built-ins, names and their one flat scope.
#include <gtest/gtest.h>

#include "check_util.h"
#include "grammar.h"

namespace kv::vetter::test {
namespace {

std::string let_error(int at, const std::string& name, const std::string& declared,
                      const std::string& actual) {
  return line("line " + std::to_string(at),
              "let " + name + ": declared " + declared + " but initializer is " + actual, ":");
}

TEST(Compatibility, LiteralsAndOperators) {
  const auto r = run(
      "let float f = 1:\n"          // 1  float accepts int
      "let bool b = 1:\n"           // 2  int and bool mix
      "let int i = true:\n"         // 3
      "let int j = 2.5:\n"          // 4  int does not accept float
      "let text t = \"a\" + 1:\n"   // 5  text plus anything is text
      "let text u = \"a\" - 1:\n"   // 6  text minus int is int
      "let float g = 1 * 2.0:\n"    // 7
      "let int h = 7 % 2:\n"        // 8
      "let int n = -2.5:\n"         // 9  unary minus keeps the operand's type
      "let bool c = 1 < 2:\n"       // 10
      "let int d = not 1:\n"        // 11 bool into int
      "let text e = (1 == 1):\n"    // 12
      "let int k = 1 + 2.0:\n"      // 13
      "let int m = {1} + {2}:\n"    // 14 operands are never checked: list plus list is int
      "let text o = 1 or 0:\n"      // 15
      "let bool p = 1 and 0:\n");   // 16
  EXPECT_EQ(r.diagnostics, let_error(4, "j", "int", "float") + let_error(6, "u", "text", "int") +
                               let_error(9, "n", "int", "float") +
                               let_error(12, "e", "text", "bool") +
                               let_error(13, "k", "int", "float") +
                               let_error(15, "o", "text", "bool"));
  EXPECT_EQ(r.error_count, 6);
}

TEST(Precedence, LevelsAndAssociationShowInTheType) {
  // Each expression would have another type if its levels were parsed the other way.
  const struct {
    const char* expr;
    const char* type;
  } cases[] = {
      {"1 < 2 + \"a\"", "bool"},        // comparison looser than additive
      {"\"a\" + 1 * 2.5", "text"},      // additive looser than multiplicative
      {"\"a\" - 1 + \"b\"", "text"},    // left to right: ("a" - 1) + "b"
      {"not 1 + 2.5", "bool"},          // not looser than additive
      {"1.5 or 2 and 3", "bool"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(diags(std::string("let list l = ") + c.expr + ":\n"), let_error(1, "l", "list", c.type))
        << c.expr;
}

TEST(Compatibility, AnyAndVarAcceptAndAreAccepted) {
  EXPECT_EQ(diags("let any a = \"x\":\n"
                  "let var v = {1, 2}:\n"
                  "let int k = a:\n"
                  "let text t = v:\n"
                  "let map m = a:\n"),
            "");
}

TEST(Compatibility, CollectionsAndUnknownTypes) {
  const auto r = run(
      "rec P [ int x: ]\n"
      "let list l = {1 -> 2, 3 -> 4}:\n"  // 2 map
      "let map m = {}:\n"                 // 3 empty braces are a list
      "let list w = {1, 2 -> 3}:\n"       // 4 any key -> value entry makes a map
      "let P p = P(1):\n"
      "let int a = p.x:\n"
      "let int b = p.y:\n"                // 7 missing field: unknown
      "let any q = 1:\n"
      "let int c = q.x:\n"                // 9 field of any: unknown
      "let any d = p.y:\n"                // unknown into any passes
      "let P e = l{0}:\n"                 // element access is any
      "let text s = l{0}{1}:\n"
      "let unknown u = p.y:\n");          // the same text as the missing field's type
  EXPECT_EQ(r.diagnostics, let_error(2, "l", "list", "map") + let_error(3, "m", "map", "list") +
                               let_error(4, "w", "list", "map") +
                               let_error(7, "b", "int", "unknown") +
                               let_error(9, "c", "int", "unknown"));
}

TEST(Compatibility, EnumsAndRecordConstructors) {
  const auto r = run(
      "enum Color [ Red: Green: ]\n"
      "rec Box [ int w: ]\n"
      "let Color c = Color.Red:\n"
      "let Color all = Color:\n"
      "let int n = Color.Green:\n"   // 5
      "let Box b = Box(1):\n"
      "let int k = Box(1):\n"        // 7
      "let Box z = Color.Red:\n");   // 8
  EXPECT_EQ(r.diagnostics, let_error(5, "n", "int", "Color") + let_error(7, "k", "int", "Box") +
                               let_error(8, "z", "Box", "Color"));
}

TEST(Builtins, ResultTypesAndUncheckedArguments) {
  const auto r = run(
      "let int n = len(1, 2, 3):\n"
      "let float f = tofloat(\"1\"):\n"
      "let text t = totext():\n"
      "let map m = map_set(map_new(), \"k\", 1):\n"
      "let list ks = map_keys(m):\n"
      "let text e = exedir():\n"
      "let int bad = getenv(\"HOME\"):\n"  // 7
      "let list no = map_new():\n"         // 8
      "let text x = clock():\n");          // 9
  EXPECT_EQ(r.diagnostics, let_error(7, "bad", "int", "text") + let_error(8, "no", "list", "map") +
                               let_error(9, "x", "text", "int"));
}

TEST(Builtins, UserFunctionWithTheSameNameTakesOver) {
  const auto r = run(
      "fn len(text s) -> text [ give s: ]\n"
      "let int n = len(\"a\"):\n"
      "let text t = len(1):\n");
  EXPECT_EQ(r.diagnostics, let_error(2, "n", "int", "text") +
                               line("line 3", "call to len(): argument 1 expects text but got int", ")"));
}

TEST(Functions, SignaturesAreKnownBeforeTheDeclaration) {
  const auto r = run(
      "start [\n"
      "  let text t = later(1):\n"
      "  let int u = nosuch():\n"  // unknown function: any
      "]\n"
      "fn later(text s) -> int [ give 1: ]\n"
      "fn noarrow() [ give 1: ]\n"
      "let text v = noarrow():\n");
  EXPECT_EQ(r.diagnostics,
            line("line 2", "call to later(): argument 1 expects text but got int", ")") +
                let_error(2, "t", "text", "int") + let_error(7, "v", "text", "int"));
}

TEST(Functions, SameNameSharesOneParameterList) {
  EXPECT_EQ(diags("fn g(int a) [ ]\nfn g(text b) [ ]\nstart [ g(1, 2): ]\n"),
            line("line 3", "call to g(): argument 2 expects text but got int", ")"));
}

TEST(Functions, HeaderWithoutParenthesisIsReportedTwice) {
  const auto r = run("fn f int a) [ ]\n");
  EXPECT_EQ(r.diagnostics, line("line 1", "expected '('", "int") + line("line 1", "expected '('", "int"));
  EXPECT_EQ(r.error_count, 2);
}

TEST(Scope, OneFlatTableNewestWins) {
  const auto r = run(
      "fn a() [ let text s = \"x\": ]\n"
      "fn b() [ let int n = s: ]\n"       // 2: s from a() is still known
      "let int x = x + 1:\n"              // the name is declared before its initializer
      "let int y = y + \"s\":\n"          // 4
      "let text x = \"now text\":\n"
      "x = \"fine\":\n"
      "x = 1:\n");                        // 7
  EXPECT_EQ(r.diagnostics, let_error(2, "n", "int", "text") + let_error(4, "y", "int", "text") +
                               line("line 7", "x = int but variable declared as text", ":"));
}

TEST(Scope, FixAndLoopVariables) {
  const auto r = run(
      "fix k = \"a\":\n"
      "let int n = k:\n"                               // 2
      "let list xs = {1, 2}:\n"
      "let map mm = {1 -> 2}:\n"
      "loop i in 1 to 10 step 2 [ let text s = i: ]\n"  // 5: a range gives int
      "loop e in xs [ let text s = e: ]\n"              // a list gives any
      "loop c in \"abc\" [ let text s = c: ]\n"         // 7: a text gives int
      "loop kk in mm [ let text s = kk: ]\n"
      "loop 3 [ ]\n"
      "loop while n < 3 [ n = n + 1: ]\n");
  EXPECT_EQ(r.diagnostics, let_error(2, "n", "int", "text") + let_error(5, "s", "text", "int") +
                               let_error(7, "s", "text", "int"));
}

TEST(Statements, LogTryWhenMatchCheckClean) {
  EXPECT_EQ(diags("enum Mode [ Fast: Slow: ]\n"
                  "start [\n"
                  "  let Mode m = Mode.Fast:\n"
                  "  kvlog(\"start\", 1):\n"
                  "  kvlog.warn(\"careful\"):\n"
                  "  let int logged = kvlog.info(\"x\"):\n"
                  "  try [ let int v = toint(\"x\"): ] catch [ println(lasterror()): ]\n"
                  "  loop 2 [ when m == Mode.Fast [ stop: ] or m == Mode.Slow [ skip: ] else [ yield: ] ]\n"
                  "  match m [ Mode.Fast [ println(\"f\"): ] Mode.Slow [ ] else [ ] ]\n"
                  "]\n"),
            "");
  EXPECT_EQ(diags("let text t = kvlog(\"a\"):\n"), let_error(1, "t", "text", "int"));
}

TEST(Statements, OrBeforeABracketEndsTheExpression) {
  EXPECT_EQ(diags("let bool b = true or false:\n"), "");
  // "or" right before "[" is left to the statement, which wanted its ":".
  const auto r = run("let bool b = true or [\n");
  EXPECT_EQ(r.diagnostics.substr(0, r.diagnostics.find("\r\n") + 2),
            line("line 1", "expected ':'", "or"));
}

TEST(Recovery, MatchWithoutClosingBracketEndsTheWalk) {
  const auto r = run("start [\n  match v [\n    1 [ ]\n");
  EXPECT_EQ(r.diagnostics, line("line 3", "expected ']'", "") + line("line 3", "expected ']'", ""));
}

TEST(Recovery, TruncatedDeclarationsEndTheWalk) {
  // Each of these stops at the end of the tokens; the counts are what each walk reports.
  // A record or enum cut short passes the type rules, but not the front end.
  EXPECT_EQ(run("rec R [ private int").diagnostics,
            line("line 1", "expected a name", "") + line("line 1", "expected ':'", "") +
                line("line 1", "expected ']'", ""));
  EXPECT_EQ(run("enum E [ A: B").diagnostics,
            line("line 1", "expected ':'", "") + line("line 1", "expected ']'", ""));
  EXPECT_EQ(run("fn f(int").diagnostics, line("line 1", "expected ')'", "") +
                                             line("line 1", "expected ')'", "") +
                                             line("line 1", "expected '['", "") +
                                             line("line 1", "expected ']'", ""));
  EXPECT_EQ(run("").error_count, 0);
  EXPECT_EQ(run("").token_count, 0u);
}

TEST(Nesting, DeepInputIsCutOffWithOneDiagnostic) {
  const int n = 100000;
  const std::string parens = "let int x = " + std::string(n, '(') + "1" + std::string(n, ')') + ":\n";
  std::string blocks = "start [";
  for (int i = 0; i < n; ++i) blocks += " when 1 [";
  for (int i = 0; i < n; ++i) blocks += " ]";
  blocks += " ]\n";
  std::string minus = "let int y = ";
  for (int i = 0; i < n; ++i) minus += "- ";
  minus += "1:\n";
  std::string nots = "let bool z = ";
  for (int i = 0; i < n; ++i) nots += "not ";
  nots += "1:\nlet int after = \"s\":\n";
  const std::string too_deep = "nesting deeper than " + std::to_string(kMaxNesting) + " levels";
  EXPECT_EQ(diags(parens), line("line 1", too_deep, "("));
  // The condition of the when at the limit is cut off; its block goes with it.
  EXPECT_EQ(diags(blocks), line("line 1", too_deep, "1"));
  EXPECT_EQ(diags(minus), line("line 1", too_deep, "-"));
  // The walk goes on normally after the cut.
  EXPECT_EQ(diags(nots), line("line 1", too_deep, "not") + let_error(2, "after", "int", "text"));
}

TEST(Nesting, ReasonableDepthIsChecked) {
  const int n = kMaxNesting / 2;
  EXPECT_EQ(diags("let int x = " + std::string(n, '(') + "1.5" + std::string(n, ')') + ":\n"),
            let_error(1, "x", "int", "float"));
}

}  // namespace
}  // namespace kv::vetter::test
