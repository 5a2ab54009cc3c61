// `use` expansion on odd inputs: the text the front end lowers, the names read in order,
// and the origin the checker reports every line under.
#include "source.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;

struct Case {
  const char* what;
  std::string main;
  Files files;
  std::string text;                 // the expanded text
  std::vector<std::string> used;    // used_files, the main path first
  std::string origins;              // "file:line" of each line of the text, "|" between
};

// One "file:line" per line of the expanded text; "-" for a line without an origin.
std::string origins(const kv::Expansion& ex) {
  std::string out;
  for (size_t l = 1; l < ex.origin_file.size(); ++l) {
    if (l > 1) out += "|";
    out += ex.origin_file[l] < 0 ? "-" : ex.files[static_cast<size_t>(ex.origin_file[l])] + ":" +
                                             std::to_string(ex.origin_line[l]);
  }
  return out;
}

kv::UseReader reader(const Files& files) {
  return [&files](const std::string& name, std::string& text) {
    auto it = files.find(name);
    if (it == files.end()) return false;
    text = it->second;
    return true;
  };
}

const Case kCases[] = {
    {"cycles, repeats, a directive after other letters, one without its colon",
     "use \"a.kv\": use \"a.kv\": abuse \"b.kv\": use \"a.kv\"",
     {{"a.kv", "use \"b.kv\":\nfn a() [ ]\nstart [ x: ]"},
      {"b.kv", "use \"a.kv\":use \"main.kv\": fn b() [ ]"}},
     " fn b() [ ]\n\nfn a() [ ]\n\n  ab ",
     {"main.kv", "a.kv", "b.kv"},
     "b.kv:1|a.kv:1|a.kv:2|a.kv:3|main.kv:1"},
    {"no colon after the path: the directive runs to the end of the text",
     "a use \"x.kv\" rest\nmore", {{"x.kv", "y:"}}, "a y:\n", {"main.kv", "x.kv"}, "x.kv:1"},
    {"no closing quote: the name runs to the end of the text",
     "a use \"x.kv: rest", {{"x.kv: rest", "z:"}}, "a z:\n", {"main.kv", "x.kv: rest"},
     "x.kv: rest:1"},
    {"directives inside literals and comments, and with two blanks, are text",
     "\"use \\\"x.kv\\\":\" // use \"x.kv\":\nuse  \"x.kv\":", {},
     "\"use \\\"x.kv\\\":\" // use \"x.kv\":\nuse  \"x.kv\":", {"main.kv"}, "main.kv:1|main.kv:2"},
    {"lines keep their numbers: a directive spanning lines, a used start block, no final LF",
     "// top\nuse \"lib.kv\"\n\n:let x:\nlast",
     {{"lib.kv", "start [\n a:\n]\nb:"}},
     "// top\n\nb:\nlet x:\nlast",
     {"main.kv", "lib.kv"},
     "main.kv:1|lib.kv:1|lib.kv:2|main.kv:4|main.kv:5"},
};

TEST(UseExpansion, TextNamesAndLineOrigins) {
  for (const Case& c : kCases) {
    const kv::Expansion ex = kv::expand_uses("main.kv", c.main, reader(c.files));
    EXPECT_EQ(ex.text, c.text) << c.what;
    EXPECT_EQ(ex.used_files, c.used) << c.what;
    EXPECT_EQ(origins(ex), c.origins) << c.what;
  }
}

TEST(UseExpansion, AnUnreadableFileAnywhereStopsTheExpansion) {
  const Files files = {{"a.kv", "use \"b.kv\":"}, {"b.kv", "x: use \"gone.kv\":"}};
  for (const char* main : {"use \"gone", "x: use \"gone.kv\":", "use \"a.kv\":"})
    EXPECT_THROW(kv::expand_uses("main.kv", main, reader(files)), kv::CannotOpenFile) << main;
}

}  // namespace
