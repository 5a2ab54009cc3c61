// kavelc and kavel at their limits, end to end: runs at the same time, paths longer than
// the stages read, products that cannot be written, names Windows cannot hold, command
// lines Windows cannot take, a missing source and the help option.
#include <gtest/gtest.h>

#ifndef _WIN32
#include "e2e_fixture.h"

namespace {

using namespace kvtest;

std::string program_saying(const std::string& line, int code) {
  return "start [\n    println(\"" + line + "\"):\n    quit(" + std::to_string(code) + "):\n]\n";
}

// Each command in the background, all at once; each leaves its output and exit code in
// <folder>/<i>.out and <i>.code.
void run_at_once(const path& folder, const std::vector<std::string>& commands) {
  std::string all;
  for (size_t i = 0; i < commands.size(); ++i) {
    std::string out = q((folder / (std::to_string(i) + ".out")).string());
    std::string code = q((folder / (std::to_string(i) + ".code")).string());
    all += "( { " + commands[i] + "; } > " + out + " 2>&1 < /dev/null; echo $? > " + code + " ) & ";
  }
  kvtest::fs::create_directories(folder);
  ASSERT_EQ(kv::system(all + "wait"), 0u);
}

std::string result(const path& folder, size_t i) {
  return slurp(folder / (std::to_string(i) + ".out")) + "exit " + kv::trim(slurp(folder / (std::to_string(i) + ".code")));
}

// Six programs of one name, each in its folder, each run twice at once with the other
// five, round after round: the first round builds them, the second runs them from the
// cache, the third comes after every source changed. Then they are built at once by
// kavelc beside their sources, with a program whose IR is named like another's
// optimised IR among them.
TEST_F(EndToEnd, RunsAtTheSameTimeNeverMeet) {
  const int programs_at_once = 6;
  std::vector<path> sources;
  std::vector<std::string> runs, builds;
  for (int i = 0; i < programs_at_once; ++i) {
    std::string name = i == programs_at_once - 1 ? "prog_opt.kv" : "prog.kv";
    path source = dir / ("p" + std::to_string(i)) / name;
    sources.push_back(source);
    std::string run = env() + q((bin_dir / "kavel").string()) + " " + q(source.string());
    runs.push_back(run);
    runs.push_back(run);
    builds.push_back("printf '%s\\n' " + q(source.string()) + " | " + env() + q((bin_dir / "kavelc").string()));
  }
  auto says = [](int i, int round) { return "program " + std::to_string(i) + (round < 2 ? "" : ", changed"); };
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < programs_at_once; ++i) spit(sources[i], program_saying(says(i, round), 10 + i));
    path results = dir / ("round" + std::to_string(round));
    run_at_once(results, runs);
    for (size_t r = 0; r < runs.size(); ++r) {
      const int i = static_cast<int>(r / 2);
      EXPECT_EQ(result(results, r), says(i, round) + "\r\nexit " + std::to_string(10 + i)) << "round " << round;
    }
  }
  EXPECT_EQ(cache_entries().size(), 2u * programs_at_once);
  run_at_once(dir / "kavelc", builds);
  for (int i = 0; i < programs_at_once; ++i) {
    ASSERT_TRUE(kv::ends_with(result(dir / "kavelc", i), "exit 0")) << result(dir / "kavelc", i);
    Outcome ran = wine(kv::replace(sources[i].string(), ".kv", ".exe"));
    EXPECT_EQ(ran.out, says(i, 2) + "\r\n");
    EXPECT_EQ(ran.code, 10u + i);
  }
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

// The stages read 255 bytes of their input path: a longer one must never build the file
// its first 255 bytes name.
TEST_F(EndToEnd, LongPathsAreHandedWholeOrRefused) {
  path folder = dir / "long" / std::string(120, 'd');
  std::string prefix = (folder / "").string();
  path shorter = prefix + std::string(255 - prefix.size() - 3, 'y') + ".kv";
  ASSERT_EQ(shorter.string().size(), 255u);
  path longer = shorter.string() + "zzz";
  spit(shorter, program_saying("the file of the first 255 bytes", 3));
  spit(longer, program_saying("the file named", 4));

  Outcome run = kavel({longer.string()});  // from dir, where a relative path fits
  EXPECT_EQ(run.out, "the file named\r\n");
  EXPECT_EQ(run.code, 4u);
  Outcome built = kavelc(longer.string() + "\r\n");
  ASSERT_EQ(built.code, 0u) << built.out;
  Outcome ran = wine(kv::replace(shorter.string(), ".kv", ".exe"));
  EXPECT_EQ(ran.out, "the file named\r\n");

  Outcome far = kvtest::run(dir / "io", "cd / && " + env() + q((bin_dir / "kavel").string()) + " " + q(longer.string()));
  EXPECT_EQ(far.out, "[kavelc] error: path longer than 255 bytes: " + longer.string() + "\r\n");
  EXPECT_EQ(far.code, 1u);

  // A long TEMP makes long IR paths: the IR stages get them relative to the build folder.
  temp = dir / std::string(200, 't') / "temp";
  kvtest::fs::create_directories(temp);
  Outcome deep = kavel({program("quit").string()});
  EXPECT_EQ(deep.out, "leaving with 7\r\n");
  EXPECT_EQ(deep.code, 7u);
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

// A product written to a full device: the stage that wrote it is the step named.
TEST_F(EndToEnd, UnwritableProductNamesItsStep) {
  kvtest::fs::copy_file(program("hello"), dir / "hello.kv");
  const std::vector<std::pair<std::string, std::string>> products = {{"hello.ir", "2/6  lowerir"},
                                                                      {"hello_opt.ir", "3/6  opt  "}};
  for (const auto& [file, label] : products) {
    kvtest::fs::remove_all(build_dir());
    kvtest::fs::create_directories(build_dir());
    kvtest::fs::create_symlink("/dev/full", build_dir() / file);
    Outcome r = kavelc("hello.kv\r\n");
    EXPECT_TRUE(kv::ends_with(r.out, "[kavelc] " + label + "\r\n[kavelc] ERROR in " + label + " (exit 1)\r\n")) << r.out;
    EXPECT_EQ(r.code, 1u);
  }
}

// Windows file names cannot hold " * | < > ? : or control characters.
TEST_F(EndToEnd, NamesWindowsCannotHold) {
  for (const std::string name : {"d\"q", "a*b|c<d>e?f:g\th\ni"}) {
    kvtest::fs::copy_file(program("quit"), dir / (name + ".kv"));
    Outcome run = kavel({name + ".kv"});
    EXPECT_EQ(run.out, "leaving with 7\r\n") << name;
    EXPECT_EQ(run.code, 7u);
  }
  Outcome refused = kavelc("d\"q.kv\r\n");
  EXPECT_EQ(refused.out, "[kavelc] error: not a valid Windows file name: d\"q.exe\r\n");
  EXPECT_EQ(refused.code, 1u);
  EXPECT_FALSE(kvtest::fs::exists(dir / "d\"q.exe"));
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

TEST_F(EndToEnd, ArgumentsBeyondTheCommandLineLimit) {
  std::string big(32000, 'x');
  Outcome fits = kavel({program("args").string(), big});
  EXPECT_EQ(fits.out, "1\r\n<" + big + ">\r\n");
  EXPECT_EQ(fits.code, 0u);
  Outcome over = kavel({program("args").string(), big, std::string(800, 'y')});
  EXPECT_TRUE(kv::starts_with(over.out, "[kavel] error: the arguments make a command line of ")) << over.out;
  EXPECT_TRUE(kv::ends_with(over.out, " characters; Windows takes at most 32766\r\n")) << over.out;
  EXPECT_EQ(over.code, 1u);
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

TEST_F(EndToEnd, MissingSourceIsNamedAndHelpShowsTheUsage) {
  Outcome missing = kavel({"nosuch.kv"});
  EXPECT_EQ(missing.out, "[kavel] error: cannot open file: nosuch.kv\r\n");
  EXPECT_EQ(missing.err, "");
  EXPECT_EQ(missing.code, 1u);
  for (const char* flag : {"--help", "-h"}) {
    Outcome help = kavel({flag});
    EXPECT_EQ(help.out, "Usage: kavel <file.kv> [args...]\r\n       kavel --version\r\n") << flag;
    EXPECT_EQ(help.code, 0u);
  }
  EXPECT_FALSE(kvtest::fs::exists(build_dir()));
}

}  // namespace
#endif
