// The IR table and the front end agree: every line the front end writes for the programs of
// the tree (tests, demos, libraries) has an opcode of the table with the operands its shape
// names, the table's stack effects keep every routine balanced, and every row of the table is
// written by some program.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ir.h"
#include "lowerir.h"
#include "stage_io.h"

namespace fs = std::filesystem;
using kv::ir::Op;
using kv::ir::Shape;

namespace {

// Blank-separated operands a shape has; -1: any (a text).
int operand_words(Shape s) {
  switch (s) {
    case Shape::None: return 0;
    case Shape::Int:
    case Shape::Float:
    case Shape::Name:
    case Shape::Count:
    case Shape::Label:
    case Shape::Operator: return 1;
    case Shape::TypeName:
    case Shape::NameType:
    case Shape::NameCount:
    case Shape::NameLabel:
    case Shape::RecordField:
    case Shape::LevelCount: return 2;
    case Shape::TypeNameFlag:
    case Shape::OpOperands:
    case Shape::NameLabelInt: return 3;
    case Shape::Operands:
    case Shape::NameInt: return 2;
    case Shape::OpOperandsLabel: return 4;
    case Shape::Text:
    case Shape::LabelLine: return -1;
  }
  return -1;
}

int count_words(std::string_view rest) {
  if (rest.empty()) return 0;
  int n = 1;
  for (char c : rest) n += c == ' ';
  return n;
}

// Follows the evaluation stack through one program's lines, as the table says.
struct StackCheck {
  std::map<std::string, long> record_fields;
  long depth = 0;
  std::string problem;

  static long count(std::string_view operand) {
    return std::stol(std::string(operand.empty() ? std::string_view("0") : operand));
  }
  void step(const kv::ir::Line& l) {
    const kv::ir::OpInfo& info = kv::ir::info(l.op);
    long pops = info.pops;
    if (pops == kv::ir::Pops::count) pops = count(l.op == Op::List ? l.a : l.b);
    if (pops == kv::ir::Pops::pairs) pops = 2 * count(l.a);
    if (pops == kv::ir::Pops::fields) pops = record_fields[std::string(l.a)];
    if (l.op == Op::Rec) record_fields[std::string(l.a)] = count(l.b);
    depth -= pops;
    if (depth < 0 && problem.empty()) problem = "stack underflow at " + std::string(l.text);
    depth += info.pushes;
    if ((l.op == Op::End || l.op == Op::Fn) && depth != 0 && problem.empty())
      problem = "stack not empty (" + std::to_string(depth) + ") at " + std::string(l.text);
  }
};

std::vector<fs::path> programs() {
  std::vector<fs::path> found;
  for (const char* root : {"tests", "demos", "lib"})
    for (const auto& e : fs::recursive_directory_iterator(fs::path(KAVEL_SOURCE_TREE) / root))
      if (e.is_regular_file() && e.path().extension() == ".kv") found.push_back(e.path());
  return found;
}

}  // namespace

TEST(IrTable, FrontEndWritesOnlyTableLinesAndEveryRow) {
  const fs::path lib = fs::path(KAVEL_SOURCE_TREE) / "lib";
  std::set<Op> written;
  size_t checked = 0;
  for (const fs::path& program : programs()) {
    kv::frontend::FileAccess files{
        [&](const std::string& name) {
          fs::path beside = program.parent_path() / name;
          return (fs::exists(beside) ? beside : lib / name).string();
        },
        [](const std::string& path, std::string& text) { return kv::read_file(path, text); }};
    kv::frontend::StringSink sink;
    try {
      kv::frontend::run_stage(program.string(), sink, files);
    } catch (const kv::CannotOpenFile&) {
      continue;  // a program about missing files
    }
    if (sink.err.find("lowerir: ") != std::string::npos) continue;  // a program about syntax errors
    ++checked;
    StackCheck stack;
    std::string_view ir = sink.ir;
    while (!ir.empty()) {
      const size_t end = ir.find("\r\n");
      ASSERT_NE(end, std::string_view::npos) << program << ": a line without CR LF";
      const kv::ir::Line l = kv::ir::parse(ir.substr(0, end));
      ir.remove_prefix(end + 2);
      ASSERT_NE(l.op, Op::Unknown) << program << ": " << l.text;
      ASSERT_FALSE(kv::ir::is_extended(l.op)) << program << ": " << l.text;
      written.insert(l.op);
      const int words = operand_words(kv::ir::info(l.op).shape);
      if (words >= 0) {
        EXPECT_EQ(count_words(l.rest), words) << program << ": " << l.text;
      }
      stack.step(l);
    }
    // The front end's golden cases include odd forms it lowers faithfully but unbalanced, such
    // as a plain element in a map literal; every real program must balance.
    if (program.string().find("/tests/frontend/golden/") == std::string::npos) {
      EXPECT_EQ(stack.problem, "") << program;
    }
  }
  EXPECT_GT(checked, 100u);
  for (size_t i = 0; i < kv::ir::kOpCount; ++i)
    if (!kv::ir::is_extended(static_cast<Op>(i))) {
      EXPECT_TRUE(written.count(static_cast<Op>(i))) << "no program writes " << kv::ir::kOps[i].name;
    }
}
