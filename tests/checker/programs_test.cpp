// Whole programs that must check clean: the shipped libraries and a few realistic
// programs in clean/. A bare used name is read from lib/, as the program would read it
// from beside its executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "check_util.h"
#include "stage_io.h"

namespace kv::vetter::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = KAVEL_SOURCE_DIR;

bool library_reader(const std::string& name, std::string& text) {
  return read_file((kSourceDir / "lib" / name).string(), text);
}

CheckResult check_file(const fs::path& path) {
  std::string text;
  EXPECT_TRUE(read_file(path.string(), text)) << path;
  return check_source(path.string(), text, library_reader);
}

TEST(CleanPrograms, StandardLibraryChecksWithoutErrors) {
  for (const char* name : {"std.kv", "kavelweb.kv"}) {
    const auto r = check_file(kSourceDir / "lib" / name);
    EXPECT_EQ(r.diagnostics, "") << name;
    EXPECT_EQ(r.error_count, 0) << name;
    EXPECT_GT(r.token_count, 1000u) << name;
  }
}

TEST(CleanPrograms, RealisticProgramsCheckWithoutErrors) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "tests" / "checker" / "clean")) {
    if (entry.path().extension() != ".kv") continue;
    const auto r = check_file(entry.path());
    EXPECT_EQ(r.diagnostics, "") << entry.path();
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

TEST(CleanPrograms, OneMistakeInARealisticProgramIsFound) {
  std::string text;
  ASSERT_TRUE(read_file((kSourceDir / "tests/checker/clean/inventory.kv").string(), text));
  // A float initialising an int, deep inside the start block.
  const std::string from = "let int n = toint(\"many\"):";
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, from.size(), "let int n = 2.5:");
  const int64_t line_no = 1 + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n');
  const auto r = check_source("inventory.kv", text, library_reader);
  EXPECT_EQ(r.diagnostics,
            line("line " + std::to_string(line_no), "let n: declared int but initializer is float", ":"));
}

}  // namespace
}  // namespace kv::vetter::test
