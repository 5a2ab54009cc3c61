#include "lexer.h"

#include <gtest/gtest.h>

using kv::lex;
using kv::TokKind;

namespace {

std::string dump(std::string_view text) {
  std::string out;
  for (const auto& t : lex(text)) {
    out += std::string(kv::kind_name(t.kind)) + ":" + t.value + "@" + std::to_string(t.pos) + " ";
  }
  return out;
}

TEST(Lexer, JoinsOnlyTheFivePairs) {
  EXPECT_EQ(dump("a==b"), "id:a@0 sym:==@1 id:b@3 ");
  EXPECT_EQ(dump("=!"), "sym:=@0 sym:!@1 ");
  EXPECT_EQ(dump("-> <= >= != =="), "sym:->@0 sym:<=@3 sym:>=@6 sym:!=@9 sym:==@12 ");
  EXPECT_EQ(dump("=>"), "sym:=@0 sym:>@1 ");
}

TEST(Lexer, NumbersAndWords) {
  EXPECT_EQ(dump("12abc 1.2.3 _x9 3."), "num:12@0 id:abc@2 num:1.2.3@6 id:_x9@12 num:3.@16 ");
  EXPECT_EQ(dump("let Let"), "kw:let@0 id:Let@4 ");
}

TEST(Lexer, StringsStayRaw) {
  EXPECT_EQ(dump(R"("a\"b" x)"), R"(str:a\"b@0 id:x@7 )");
  EXPECT_EQ(dump("\"// no comment\""), "str:// no comment@0 ");
  EXPECT_EQ(dump("\"open"), "str:open@0 ");
  EXPECT_EQ(dump("\"ends in backslash\\"), "str:ends in backslash\\@0 ");
  EXPECT_EQ(dump("\"two\nlines\""), "str:two\nlines@0 ");
}

TEST(Lexer, CommentsAndOddBytes) {
  EXPECT_EQ(dump("a // c\r\nb"), "id:a@0 id:b@8 ");
  EXPECT_EQ(dump("#;\xC3"), "sym:#@0 sym:;@1 sym:\xC3@2 ");
  EXPECT_TRUE(lex("").empty());
  EXPECT_TRUE(lex(" \t\r\n// only").empty());
}

TEST(EscapeIrText, EscapesControlBytesAndBackslashes) {
  EXPECT_EQ(kv::escape_ir_text("a\nb\rc\td\\e"), "a\\nb\\rc\\td\\\\e");
  EXPECT_EQ(kv::escape_ir_text("\\n"), "\\\\n");
  EXPECT_EQ(kv::escape_ir_text(""), "");
}

}  // namespace

namespace {

TEST(Lexer, ExactlyTheThirtySevenKeywords) {
  const char* words[] = {"let",  "fix",  "any",   "var",   "int",   "float",   "text",  "bool",
                         "list", "map",  "true",  "false", "fn",    "give",    "start", "loop",
                         "in",   "to",   "step",  "while", "when",  "or",      "and",   "not",
                         "else", "stop", "skip",  "kvlog", "rec",   "enum",    "use",   "match",
                         "try",  "catch", "private", "spawn", "yield"};
  for (const char* w : words) EXPECT_TRUE(kv::is_keyword(w)) << w;
  for (const char* w : {"If", "return", "lets", "le", "", "Start", "print", "none", "kvlog_"})
    EXPECT_FALSE(kv::is_keyword(w)) << w;
  // Type words arrive as keywords, record names as identifiers.
  EXPECT_EQ(dump("list Point"), "kw:list@0 id:Point@5 ");
}

TEST(Lexer, InterpolationStaysInsideTheLiteral) {
  EXPECT_EQ(dump(R"("a ${x + "b"} c")"), R"(str:a ${x + @0 id:b@10 str:} c@11 )");
  EXPECT_EQ(dump("\"${}\"$"), "str:${}@0 sym:$@5 ");
}

}  // namespace
