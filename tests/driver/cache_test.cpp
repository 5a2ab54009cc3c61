// The runner's build cache end to end: which changes make kavel build again and which
// let it run the program it built before, with a toolchain of our own whose optimiser
// stage logs each time it runs (a build runs it once).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <functional>

#include "e2e_fixture.h"

namespace {

using namespace kvtest;

class Cache : public EndToEnd {
 public:  // for the rows of the table
  using EndToEnd::cache_entries;
  using EndToEnd::dir;
  using EndToEnd::more_env;
  path tools;
  std::string cfg;

  void SetUp() override {
    EndToEnd::SetUp();
    cfg = slurp(bin_dir / "kavel_paths.cfg");
    tools = private_toolchain(cfg);
    write_opt("");
    spit(dir / "parts" / "greet.kv", "fn greet() -> text [\n    give \"hello\":\n]\n");
    write_main("v1");
  }

  // The optimiser: a script that logs its run and starts the real stage.
  void write_opt(const std::string& extra) {
    kvtest::fs::remove(tools / "opt");
    spit(tools / "opt", "#!/bin/sh\n" + extra + "echo run >> " + q((dir / "opt.log").string()) + "\nexec " +
                            q((bin_dir / "opt").string()) + "\n");
    kvtest::fs::permissions(tools / "opt", kvtest::fs::perms::owner_all);
  }
  void write_main(const std::string& version) {
    spit(dir / "main.kv", "use \"parts/greet.kv\":\nuse \"std.kv\":\nstart [\n    println(greet() + \" " + version +
                              " \" + totext(argc())):\n]\n");
  }
  size_t builds() { return kv::split(slurp(dir / "opt.log"), "\n").size() - 1; }
};

struct Row {
  const char* what;
  std::function<void(Cache&)> change;
  bool builds;
  std::string out;
  std::vector<std::string> args = {};
};

// Each row changes something and runs main.kv again; the rows run in order, each on what
// the rows before it left.
TEST_F(Cache, BuildsAgainExactlyWhenAnInputChanged) {
  const std::vector<Row> rows = {
      {"the first run", [](Cache&) {}, true, "hello v1 0"},
      {"nothing changed", [](Cache&) {}, false, "hello v1 0"},
      {"the source written again with the same text", [](Cache& t) { t.write_main("v1"); }, false, "hello v1 0"},
      {"other arguments for the program", [](Cache&) {}, false, "hello v1 2", {"a", "b c"}},
      {"the source changed", [](Cache& t) { t.write_main("v2"); }, true, "hello v2 0"},
      {"a used file changed",
       [](Cache& t) { spit(t.dir / "parts" / "greet.kv", "fn greet() -> text [\n    give \"howdy\":\n]\n"); }, true,
       "howdy v2 0"},
      {"a used name now opens in the current folder instead of beside the stages",
       [](Cache& t) { spit(t.dir / "std.kv", slurp(bin_dir / "std.kv") + "\n// a copy of our own\n"); }, true,
       "howdy v2 0"},
      {"a configured tool named another way",
       [](Cache& t) { spit(t.tools / "kavel_paths.cfg", kv::replace(t.cfg, "NASM=/", "NASM=//")); }, true,
       "howdy v2 0"},
      {"a line the configuration ignores",
       [](Cache& t) { spit(t.tools / "kavel_paths.cfg", kv::replace(t.cfg, "NASM=/", "NASM=//") + "# a note\n"); },
       false, "howdy v2 0"},
      {"a stage program changed", [](Cache& t) { t.write_opt("# a new build of the stage\n"); }, true, "howdy v2 0"},
      {"other assembler options", [](Cache& t) { t.more_env = "NASMENV=-Ox"; }, true, "howdy v2 0"},
      {"the cache switched off", [](Cache& t) { t.more_env = "NASMENV=-Ox KAVEL_CACHE=off"; }, true, "howdy v2 0"},
      {"switched on again", [](Cache& t) { t.more_env = "NASMENV=-Ox"; }, false, "howdy v2 0"},
      {"every entry damaged",
       [](Cache& t) {
         for (const path& e : t.cache_entries()) kvtest::fs::resize_file(e, kvtest::fs::file_size(e) - 1);
       },
       true, "howdy v2 0"},
      {"the source as an earlier version", [](Cache& t) { t.write_main("v1"); }, true, "howdy v1 0"},
      {"and back again", [](Cache& t) { t.write_main("v2"); }, false, "howdy v2 0"},
  };
  for (const Row& row : rows) {
    row.change(*this);
    const size_t before = builds();
    std::vector<std::string> args = {(dir / "main.kv").string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    Outcome r = kavel(args, "", tools);
    EXPECT_EQ(r.out, row.out + "\r\n") << row.what << "\n" << r.err;
    EXPECT_EQ(r.code, 0u) << row.what;
    EXPECT_EQ(builds() - before, row.builds ? 1u : 0u) << row.what;
  }
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
  // kavelc always builds.
  const size_t before = builds();
  Outcome c = kavelc((dir / "main.kv").string(), tools);
  EXPECT_EQ(c.code, 0u) << c.out;
  EXPECT_EQ(builds() - before, 1u);
}

TEST_F(Cache, FailedBuildsAreNotStored) {
  spit(dir / "main.kv", "start [\n    println(undefined_name):\n]\n");
  for (int run = 0; run < 2; ++run) {
    Outcome r = kavel({(dir / "main.kv").string()}, "", tools);
    EXPECT_EQ(r.out, "[kavelc] ERROR in 1/6  check (exit 1)\r\n");
    EXPECT_EQ(r.code, 1u);
  }
  EXPECT_EQ(cache_entries(), std::vector<path>{});
}

}  // namespace
#endif
