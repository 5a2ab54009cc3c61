// `use` expansion: which files are read, once each, and the location every line of the
// expanded text is reported under.
#include <gtest/gtest.h>

#include "check_util.h"

namespace kv::vetter::test {
namespace {

const char kHelper[] = "fn helper() -> int [\n  give 1:\n]\n";

TEST(Locations, MainFileLinesKeepTheirNumbersAfterADirective) {
  EXPECT_EQ(diags("// top\nuse \"lib.kv\":\nlet int x = \"a\":\n", {{"lib.kv", kHelper}}),
            line("line 3", "let x: declared int but initializer is text", ":"));
}

TEST(Locations, CodeOfAUsedFileNamesTheFileAsWritten) {
  const FileMap files = {{"lib.kv", "fn helper() -> int [\n  give \"s\":\n]\n"},
                         {"a.kv", "\n\nuse \"sub/b.kv\":\n"},
                         {"sub/b.kv", "let int deep = 2.5:\n"}};
  EXPECT_EQ(diags("use \"lib.kv\": use \"a.kv\":\nlet int x = \"a\":\n", files),
            line("lib.kv:2", "give: function returns int but expression is text", ":") +
                line("sub/b.kv:1", "let deep: declared int but initializer is float", ":") +
                line("line 2", "let x: declared int but initializer is text", ":"));
}

TEST(Locations, UsedFileStartBlockIsRemovedAndLinesCountAfterTheRemoval) {
  const FileMap files = {{"lib.kv", "start [\n  let int a = \"x\":\n]\nlet int b = \"y\":\n"}};
  // The main file's own start block stays and is checked.
  EXPECT_EQ(diags("use \"lib.kv\":\nstart [\n  let int c = 1.5:\n]\n", files),
            line("lib.kv:2", "let b: declared int but initializer is text", ":") +
                line("line 3", "let c: declared int but initializer is float", ":"));
}

TEST(Locations, LastLineWithoutLineEndKeepsItsNumber) {
  // The last line of a used file is ended by the LF the expansion adds after it; it is
  // still that file's last line, not a line 0.
  const FileMap files = {{"lib.kv", "let int a = 1:\nlet int b = \"y\":"}};
  EXPECT_EQ(diags("use \"lib.kv\":\n", files),
            line("lib.kv:2", "let b: declared int but initializer is text", ":"));
  // The main file's last line, after inserted text, is its own line 2.
  EXPECT_EQ(diags("use \"lib.kv\":\nlet int x = \"a\":", {{"lib.kv", kHelper}}),
            line("line 2", "let x: declared int but initializer is text", ":"));
}

TEST(Locations, DirectiveWithoutColonDropsTextButNotLineNumbers) {
  // Everything up to the next ":" goes (the declaration of y with it); the lines after
  // keep their numbers.
  const auto r = run("use \"lib.kv\"\nlet int y = 1:\nlet int x = \"a\":\nlet int z = y:\n",
                     {{"lib.kv", kHelper}});
  EXPECT_EQ(r.diagnostics, line("line 3", "let x: declared int but initializer is text", ":") +
                               line("line 4", "undeclared identifier: y", ":"));
}

TEST(Expansion, EachFileOnceWhateverTheCycles) {
  const FileMap files = {{"a.kv", "use \"b.kv\":\nuse \"a.kv\":\nuse \"main.kv\":\nlet int fa = \"x\":\n"},
                         {"b.kv", "use \"a.kv\":\nlet int fb = \"y\":\n"}};
  const auto r = run("use \"a.kv\":\nuse \"a.kv\":\nuse \"b.kv\":\n", files);
  EXPECT_EQ(r.diagnostics, line("b.kv:2", "let fb: declared int but initializer is text", ":") +
                               line("a.kv:4", "let fa: declared int but initializer is text", ":"));
  const Expansion ex = expand_uses("main.kv", "use \"a.kv\":\nuse \"b.kv\":\n", map_reader(files));
  EXPECT_EQ(ex.used_files, (std::vector<std::string>{"main.kv", "a.kv", "b.kv"}));
}

TEST(Expansion, DirectivesInsideStringsAndCommentsAreText) {
  // Reading "nothere.kv" would throw; none of these is a directive.
  const auto r = run(
      "let text s = \"use \\\"nothere.kv\\\":\":\n"
      "// use \"nothere.kv\":\n"
      "use  \"nothere.kv\":\n");  // two blanks: left in the text, skipped at the top level
  EXPECT_EQ(r.error_count, 0);
  EXPECT_EQ(r.diagnostics, "");
}

TEST(Expansion, DirectiveIsFoundEvenAfterOtherLetters) {
  const auto ex = expand_uses("main.kv", "let int x = 1: ause \"lib.kv\": ", map_reader({{"lib.kv", "LIB"}}));
  EXPECT_EQ(ex.text, "let int x = 1: aLIB\n ");
}

TEST(Expansion, UnreadableUsedFileStopsTheRun) {
  EXPECT_THROW(run("let int a = 1:\nuse \"missing.kv\":\n"), CannotOpenFile);
  // Also when the missing file is only used by a used file.
  EXPECT_THROW(run("use \"a.kv\":\n", {{"a.kv", "use \"missing.kv\":\n"}}), CannotOpenFile);
}

TEST(Expansion, LongChainOfFilesNeedsNoDeepRecursion) {
  FileMap files;
  const int n = 20000;
  for (int i = 0; i < n; ++i)
    files["f" + std::to_string(i) + ".kv"] = "use \"f" + std::to_string(i + 1) + ".kv\":\n";
  files["f" + std::to_string(n) + ".kv"] = "let int last = \"x\":\n";
  const auto r = run("use \"f0.kv\":\n", files);
  EXPECT_EQ(r.diagnostics,
            line("f" + std::to_string(n) + ".kv:1", "let last: declared int but initializer is text", ":"));
}

TEST(Privacy, DecidedByTheFileTheCodeCameFrom) {
  const FileMap files = {{"shapes.kv", "rec Pt [\n  private int x:\n  int y:\n]\n"},
                         {"other.kv", "fn px(Pt p) -> int [\n  give p.x:\n]\n"}};
  const auto r = run(
      "use \"shapes.kv\":\n"
      "use \"other.kv\":\n"
      "rec Mine [ private int k: ]\n"
      "start [\n"
      "  let Mine m = Mine(1):\n"
      "  let int k = m.k:\n"   // declared in the main file: allowed
      "  let Pt p = Pt(1, 2):\n"
      "  p.x = 3:\n"           // a write reads the field through the same path
      "]\n",
      files);
  EXPECT_EQ(r.diagnostics,
            line("other.kv:2", "field 'x' of Pt is private (declared in shapes.kv)", ":") +
                line("line 8", "field 'x' of Pt is private (declared in shapes.kv)", "="));
}

}  // namespace
}  // namespace kv::vetter::test
