// opt passes the IR through: same lines, CR LF ends, nothing else on standard output.
#include <gtest/gtest.h>

#include "opt.h"

#ifndef _WIN32
#include "test_util.h"
#endif

namespace {

TEST(OptimiseIr, LinesComeBackWithCrLfEnds) {
  EXPECT_EQ(kv::optimise_ir("main\r\nCONST 7\r\nHALT\r\nend\r\n"), "main\r\nCONST 7\r\nHALT\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir("main\nHALT\nend\n"), "main\r\nHALT\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir("main\nend"), "main\r\nend\r\n");
  EXPECT_EQ(kv::optimise_ir(""), "");
}

TEST(OptimiseIr, OperandsKeepEveryByte) {
  // Empty lines, blanks at line ends, escaped text and bytes above 127 survive as they are.
  std::string ir = "STR \r\nSTR a\\r\\nb  \r\n\r\nSTR \xC3\xA9\t\x01\r\n";
  EXPECT_EQ(kv::optimise_ir(ir), ir);
  EXPECT_EQ(kv::optimise_ir(std::string("STR a\0b\r\n", 9)), std::string("STR a\0b\r\n", 9));
}

#ifndef _WIN32
using kvtest::q;

class OptProgram : public ::testing::Test {
 protected:
  kvtest::fs::path dir;
  void SetUp() override { dir = kvtest::fresh_folder(kvtest::fs::path(KAVEL_TEST_WORK) / "opt"); }
  kvtest::Outcome stage(const std::string& name, const std::string& typed) {
    return kvtest::run(dir / "io", q((kvtest::fs::path(KAVEL_TEST_BIN) / name).string()), typed);
  }
};

TEST_F(OptProgram, ReadsItsPathAndWritesTheIr) {
  std::string ir = "fn add int\r\nparam int a\r\nLOAD a\r\nRET\r\nRETN\r\nend\r\nmain\r\nHALT\r\nend\r\n";
  kvtest::spit(dir / "in put.ir", ir);
  kvtest::Outcome r = stage("opt", (dir / "in put.ir").string() + "\r\n");
  EXPECT_EQ(r.out, ir);
  EXPECT_EQ(r.err, "[err] Kavel IR file to optimise: \r\n");
  EXPECT_EQ(r.code, 0u);
}

TEST_F(OptProgram, MissingFileIsTheRuntimeError) {
  kvtest::Outcome r = stage("opt", (dir / "absent.ir").string() + "\r\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "[err] Kavel IR file to optimise: \r\nruntime error: cannot open file\r\n");
  EXPECT_EQ(r.code, 1u);
  kvtest::Outcome folder = stage("opt", dir.string());
  EXPECT_EQ(folder.code, 1u);
  EXPECT_EQ(folder.out, "");
}

TEST_F(OptProgram, FrontEndOutputPassesUnchanged) {
  kvtest::spit(dir / "p.kv",
               "fn twice(int x) -> int [ give x * 2: ]\n"
               "start [\n  let text t = \"a\\tb ${twice(21)}\":\n  println(t):\n]\n");
  kvtest::Outcome ir = stage("lowerir", (dir / "p.kv").string());
  ASSERT_EQ(ir.code, 0u) << ir.err;
  ASSERT_NE(ir.out, "");
  kvtest::spit(dir / "p.ir", ir.out);
  kvtest::Outcome r = stage("opt", (dir / "p.ir").string());
  EXPECT_EQ(r.out, ir.out);
  EXPECT_EQ(r.code, 0u);
}
#endif

}  // namespace
