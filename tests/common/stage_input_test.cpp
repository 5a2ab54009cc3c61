// How every stage reads its input and writes its product, run through the four real
// stage programs: an input ends at its first 0 byte, any finite input is read while
// endless devices and folders are refused, and a product that cannot be written stops
// the stage with a non-zero exit.
#include <gtest/gtest.h>

#ifndef _WIN32
#include "test_util.h"

namespace {

using kvtest::fs::path;
using kvtest::q;
using kvtest::slurp;
using kvtest::spit;

const path bin_dir = KAVEL_TEST_BIN;

struct Outcome {
  std::uint32_t code = 0;
  std::string out, err;
  bool operator==(const Outcome& o) const { return code == o.code && out == o.out && err == o.err; }
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "exit " << o.code << ", out " << ::testing::PrintToString(o.out.substr(0, 300)) << ", err "
            << ::testing::PrintToString(o.err.substr(0, 300));
}

const std::string program =
    "fn twice(int x) -> int [\n    give x + x:\n]\n\nstart [\n    println(\"hi ${twice(21)}\"):\n]\n";
// Source that every stage would complain about, or that would change the product.
const std::string trailing_source = "\nstart [\n    let int x = \"text\":\n    ]]] ((( \"open\n";

class StageInput : public ::testing::TestWithParam<const char*> {
 protected:
  path dir;
  std::string stage;
  bool reads_ir = false;

  void SetUp() override {
    stage = GetParam();
    reads_ir = stage == "opt" || stage == "emitasm";
    dir = kvtest::fresh_folder(KAVEL_TEST_WORK);
  }

  // Runs the stage in dir with the line on standard input.
  Outcome run(const std::string& line, const std::string& before = "", const std::string& product = "out") {
    std::string cmd = "cd " + q(dir.string()) + " && { " + before + "printf '%s\\r\\n' " + q(line) + " | " +
                      q((bin_dir / stage).string()) + " > " + q(product) + " 2> err; }";
    Outcome r;
    r.code = kv::system(cmd);
    if (product == "out") r.out = slurp(dir / "out");
    r.err = slurp(dir / "err");
    return r;
  }

  // The stage's kind of input for a program: its source, or the IR the front end makes of it.
  std::string input_of(const std::string& source) {
    spit(dir / "source.kv", source);
    if (!reads_ir) return source;
    std::string cmd = "cd " + q(dir.string()) + " && printf 'source.kv\\r\\n' | " + q((bin_dir / "lowerir").string()) +
                      " > lowered.ir 2> /dev/null";
    EXPECT_EQ(kv::system(cmd), 0u);
    return slurp(dir / "lowered.ir");
  }

  // The checker asks on standard output, the others on standard error.
  Outcome refused() {
    if (stage == "vetter") return Outcome{1, "Kavel file to check: ", "runtime error: cannot open file\r\n"};
    return Outcome{1, "", prompt() + "runtime error: cannot open file\r\n"};
  }
  std::string prompt() {
    if (stage == "lowerir") return "[err] Kavel file to compile: \r\n";
    if (stage == "opt") return "[err] Kavel IR file to optimise: \r\n";
    if (stage == "emitasm") return "[err] Kavel IR file to compile: \r\n";
    return "";
  }
};

TEST_P(StageInput, InputEndsAtTheFirstZeroByte) {
  const std::string text = input_of(program);
  const std::string rest = input_of(program + trailing_source);
  spit(dir / "cut.in", text);
  spit(dir / "zero.in", text + std::string(1, '\0') + rest);
  Outcome cut = run("cut.in");
  EXPECT_EQ(cut.code, 0u) << cut;
  if (stage != "vetter") {
    EXPECT_NE(cut.out.find(stage == "emitasm" ? "kv_start" : "hi "), std::string::npos) << cut;
  }
  EXPECT_EQ(run("zero.in"), cut);
  if (reads_ir) return;
  // A used file ends at its 0 byte too.
  spit(dir / "part.kv", "fn twice(int x) -> int [\n    give x + x:\n]\n" + std::string(1, '\0') + trailing_source);
  spit(dir / "user.kv", "use \"part.kv\":\n\nstart [\n    println(\"hi ${twice(21)}\"):\n]\n");
  spit(dir / "whole_part.kv", "fn twice(int x) -> int [\n    give x + x:\n]\n");
  spit(dir / "whole_user.kv", "use \"whole_part.kv\":\n\nstart [\n    println(\"hi ${twice(21)}\"):\n]\n");
  Outcome whole = run("whole_user.kv");
  EXPECT_EQ(whole.code, 0u) << whole;
  EXPECT_EQ(run("user.kv"), whole);
}

TEST_P(StageInput, AnyFiniteInputIsReadEndlessOnesAreRefused) {
  spit(dir / "empty.in", "");
  spit(dir / "plain.in", input_of(program));
  kvtest::fs::create_directories(dir / "folder.kv");
  EXPECT_EQ(run("/dev/null"), run("empty.in"));
  Outcome plain = run("plain.in");
  ASSERT_EQ(plain.code, 0u) << plain;
  // The writer gives up after a while, so a stage that refuses the FIFO leaves nothing behind.
  ASSERT_EQ(kv::system("mkfifo " + q((dir / "fifo.in").string())), 0u);
  EXPECT_EQ(run("fifo.in", "timeout 20 sh -c 'cat plain.in > fifo.in' & "), plain);
  for (const char* endless : {"/dev/zero", "/dev/urandom", "/dev/full", "folder.kv"})
    EXPECT_EQ(run(endless), refused()) << endless;
}

TEST_P(StageInput, ProductThatCannotBeWrittenStopsTheStage) {
  spit(dir / "plain.in", input_of(program));
  Outcome r = run("plain.in", "", "/dev/full");
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(r.err, prompt() + "runtime error: cannot write output\r\n");
}

INSTANTIATE_TEST_SUITE_P(EveryStage, StageInput, ::testing::Values("vetter", "lowerir", "opt", "emitasm"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
#endif
