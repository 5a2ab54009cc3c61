// The build routine against stand-in tools (small shell scripts that log how they were
// called): order of steps, stopping at the first failure, the icon step, clean-up, and
// paths that hold shell metacharacters.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <regex>
#include <sys/stat.h>

#include "pipeline.h"
#include "test_util.h"
#include "text.h"

namespace {

using kvtest::fs::path;
using kvtest::slurp;
using kvtest::spit;

class Pipeline : public ::testing::Test {
 protected:
  path dir, tools_dir, temp, src_dir;
  kv::Driver d;
  std::string log;
  std::string saved_temp;

  void tool(const std::string& name, const std::string& body) {
    path p = tools_dir / name;
    spit(p, "#!/bin/sh\nD=" + kvtest::q(dir.string()) + "\necho " + name + " >> \"$D/calls\"\n" +
                "code=$(cat \"$D/" + name + ".code\" 2>/dev/null || echo 0)\n" + body + "\nexit $code\n");
    ::chmod(p.c_str(), 0755);
  }

  void SetUp() override {
    dir = kvtest::fresh_folder(path(KAVEL_TEST_WORK) / "pipeline");
    tools_dir = dir / "tools";
    temp = dir / "tmp dir";
    src_dir = dir / "src";
    kvtest::fs::create_directories(src_dir);
    const char* t = std::getenv("TEMP");
    saved_temp = t ? t : "";
    kv::setenv("TEMP", temp.string());

    // Stages read their input path from standard input and write their product.
    tool("vetter", "IFS= read -r p; printf '%s' \"$p\" > \"$D/vetter.path\"\necho 'checker says hi' >&2");
    tool("lowerir", "IFS= read -r p; printf '%s' \"$p\" > \"$D/lowerir.path\"\necho \"IR of $p\"");
    tool("opt", "IFS= read -r p; cat \"$p\"");
    tool("emitasm", "IFS= read -r p; cat \"$p\"");
    tool("nasm", "cp \"$3\" \"$5\"\nprintf '%s' \"$NASMENV\" > \"$D/nasm.env\"");
    tool("rc", "echo \"$1 $2\" > \"$D/rc.option\"; cp \"$3\" \"$D/rc.seen\"; [ \"$code\" = 0 ] && echo res > \"${3%.rc}.res\"");
    tool("link", "printf '%s\\n' \"$@\" > \"$D/link.args\"\nfor a; do case \"$a\" in /out:*) echo exe > \"${a#/out:}\";; esac; done");

    kv::set_stage_paths(d.tools, tools_dir.string(), kv::Host::posix);
    d.tools.nasm = (tools_dir / "nasm").string();
    d.tools.link = (tools_dir / "link").string();
    d.tools.rc = (tools_dir / "rc").string();
    d.tools.msvcrt = "/lib/msvcrt.a";
    d.tools.kernel32 = "/lib/kernel32.a";
    d.tools.ws2_32 = "/lib/ws2_32.a";
    d.host = kv::Host::posix;
    d.capture = &log;
  }

  void TearDown() override { kv::setenv("TEMP", saved_temp); }

  void fail(const std::string& name, int code) { spit(dir / (name + ".code"), std::to_string(code)); }
  std::string calls() { return slurp(dir / "calls"); }
  path build_dir() { return temp / "kavel_build"; }

  int build(const std::string& source) {
    spit(source, "start [ ]\n");
    return kv::build(d, source, kv::dir_part(source), kv::base_name(source));
  }
  std::vector<std::string> lines() {
    std::vector<std::string> v = kv::split(log, "\r\n");
    EXPECT_EQ(v.back(), "");
    v.pop_back();
    return v;
  }
};

TEST_F(Pipeline, SuccessfulBuildReportsEveryStepAndCleansUp) {
  std::string source = (src_dir / "hello.kv").string();
  ASSERT_EQ(build(source), 0);
  auto v = lines();
  std::string exe = (src_dir / "hello.exe").string();
  ASSERT_EQ(v.size(), 11u) << log;
  EXPECT_EQ(v[0], "[kavelc] source : " + source);
  EXPECT_EQ(v[1], "[kavelc] output : " + exe);
  EXPECT_EQ(v[2], "[kavelc] -------");
  EXPECT_EQ(v[3], "[kavelc] 1/6  check");
  EXPECT_EQ(v[4], "[kavelc] 2/6  lowerir");
  EXPECT_EQ(v[5], "[kavelc] 3/6  opt  ");
  EXPECT_EQ(v[6], "[kavelc] 4/6  cg   ");
  EXPECT_EQ(v[7], "[kavelc] 5/6  nasm ");
  EXPECT_EQ(v[8], "[kavelc] 6/6  link ");
  EXPECT_EQ(v[9], "[kavelc] -------");
  EXPECT_TRUE(std::regex_match(v[10], std::regex("\\[kavelc\\] done in [0-9]+ ms  ->  " + std::regex_replace(exe, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&"))))
      << v[10];
  EXPECT_EQ(calls(), "vetter\nlowerir\nopt\nemitasm\nnasm\nlink\n");
  EXPECT_EQ(slurp(dir / "vetter.path"), source);
  EXPECT_EQ(slurp(exe), "exe\n");
  // The product went through every stage; the intermediates are gone, the folder stays.
  EXPECT_EQ(slurp(dir / "link.args"),
            "/subsystem:console\n/entry:kv_start\n/nodefaultlib\n" + (build_dir() / "hello.obj").string() +
                "\n/lib/msvcrt.a\n/lib/kernel32.a\n/lib/ws2_32.a\n/out:" + exe + "\n");
  EXPECT_TRUE(kvtest::fs::is_directory(build_dir()));
  EXPECT_TRUE(kvtest::fs::is_empty(build_dir()));
}

TEST_F(Pipeline, AssemblerRunsWithOneOptimisingPassUnlessTheUserChose) {
  const char* had = std::getenv("NASMENV");
  std::string saved = had ? had : "";
  kv::setenv("NASMENV", "");
  ASSERT_EQ(build((src_dir / "a.kv").string()), 0);
  EXPECT_EQ(slurp(dir / "nasm.env"), "-O1");
  kv::setenv("NASMENV", "-Ox");
  ASSERT_EQ(build((src_dir / "b.kv").string()), 0);
  EXPECT_EQ(slurp(dir / "nasm.env"), "-Ox");
  kv::setenv("NASMENV", saved);
}

TEST_F(Pipeline, QuietBuildPrintsNothingOnSuccess) {
  d.quiet = true;
  ASSERT_EQ(build((src_dir / "q.kv").string()), 0);
  EXPECT_EQ(log, "");
}

TEST_F(Pipeline, FailingCheckStopsBeforeTheFrontEnd) {
  fail("vetter", 1);
  ASSERT_EQ(build((src_dir / "bad.kv").string()), 1);
  auto v = lines();
  ASSERT_EQ(v.size(), 5u) << log;
  EXPECT_EQ(v[3], "[kavelc] 1/6  check");
  EXPECT_EQ(v[4], "[kavelc] ERROR in 1/6  check (exit 1)");
  EXPECT_EQ(calls(), "vetter\n");
  EXPECT_FALSE(kvtest::fs::exists(src_dir / "bad.exe"));
}

TEST_F(Pipeline, ErrorLineIsPrintedEvenWhenQuiet) {
  d.quiet = true;
  fail("nasm", 2);
  ASSERT_EQ(build((src_dir / "p.kv").string()), 1);
  EXPECT_EQ(log, "[kavelc] ERROR in 5/6  nasm  (exit 2)\r\n");
  EXPECT_EQ(calls(), "vetter\nlowerir\nopt\nemitasm\nnasm\n");
  // A failed build leaves its files for inspection.
  EXPECT_TRUE(kvtest::fs::exists(build_dir() / "p.ir"));
  EXPECT_TRUE(kvtest::fs::exists(build_dir() / "p_opt.ir"));
  EXPECT_TRUE(kvtest::fs::exists(build_dir() / "p.asm"));
}

TEST_F(Pipeline, FailingLinkNeverReportsSuccessAndKeepsIntermediates) {
  fail("link", 1);
  ASSERT_EQ(build((src_dir / "p.kv").string()), 1);
  auto v = lines();
  EXPECT_EQ(v.back(), "[kavelc] ERROR in 6/6  link  (exit 1)");
  EXPECT_EQ(log.find("done in"), std::string::npos);
  EXPECT_TRUE(kvtest::fs::exists(build_dir() / "p.obj"));
  EXPECT_TRUE(kvtest::fs::exists(build_dir() / "p.asm"));
}

TEST_F(Pipeline, MissingStageReportsTheShellsCode) {
  d.tools.frontend = (dir / "nowhere" / "lowerir").string();
  d.quiet = true;
  ASSERT_EQ(build((src_dir / "p.kv").string()), 1);
  EXPECT_EQ(log, "[kavelc] ERROR in 2/6  lowerir (exit 127)\r\n");
}

TEST_F(Pipeline, IconBesideTheSourceIsCompiledAndLinked) {
  spit(src_dir / "app.ico", "icon bytes");
  ASSERT_EQ(build((src_dir / "app.kv").string()), 0);
  EXPECT_EQ(calls(), "vetter\nlowerir\nopt\nemitasm\nnasm\nrc\nlink\n");
  EXPECT_EQ(slurp(dir / "rc.seen"), "1 ICON \"" + (src_dir / "app.ico").string() + "\"");
  EXPECT_EQ(slurp(dir / "rc.option"), "-no-preprocess --\n");
  std::string args = slurp(dir / "link.args");
  std::string obj = (build_dir() / "app.obj").string(), res = (build_dir() / "app.res").string();
  EXPECT_NE(args.find(obj + "\n" + res + "\n/lib/msvcrt.a\n"), std::string::npos) << args;
  EXPECT_TRUE(kvtest::fs::is_empty(build_dir()));  // .rc and .res removed too
}

TEST_F(Pipeline, FailingResourceCompilerLinksWithoutIcon) {
  spit(src_dir / "app.ico", "icon bytes");
  fail("rc", 1);
  ASSERT_EQ(build((src_dir / "app.kv").string()), 0);
  EXPECT_EQ(slurp(dir / "link.args").find(".res"), std::string::npos);
  EXPECT_FALSE(kvtest::fs::exists(build_dir() / "app.rc"));
}

TEST_F(Pipeline, NoIconStepWithoutIconOrWithoutCompiler) {
  ASSERT_EQ(build((src_dir / "plain.kv").string()), 0);
  EXPECT_EQ(calls().find("rc"), std::string::npos);
  spit(src_dir / "app.ico", "icon bytes");
  d.tools.rc.clear();
  kvtest::fs::remove(dir / "calls");
  ASSERT_EQ(build((src_dir / "app.kv").string()), 0);
  EXPECT_EQ(calls(), "vetter\nlowerir\nopt\nemitasm\nnasm\nlink\n");
}

TEST_F(Pipeline, ShellMetacharactersInPathsRunNothing) {
  path evil = src_dir / "$(touch PWNED1) `touch PWNED2`; touch PWNED3 & it's | x";
  kvtest::fs::create_directories(evil);
  std::string source = (evil / "my prog;rm.kv").string();
  ASSERT_EQ(build(source), 0) << log;
  EXPECT_EQ(slurp(dir / "vetter.path"), source);
  EXPECT_EQ(slurp(dir / "lowerir.path"), source);
  EXPECT_EQ(slurp(evil / "my prog;rm.exe"), "exe\n");
  for (const auto& entry : kvtest::fs::recursive_directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name != "PWNED1" && name != "PWNED2" && name != "PWNED3") << entry.path();
  }
  for (const char* name : {"PWNED1", "PWNED2", "PWNED3"}) EXPECT_FALSE(kvtest::fs::exists(name));
}

}  // namespace
#endif
