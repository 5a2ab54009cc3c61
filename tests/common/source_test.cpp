#include "source.h"
#include "stage_io.h"

#include <gtest/gtest.h>

using kv::strip_start_block;

TEST(StripStartBlock, RemovesOnlyTheFirstBalancedBlock) {
  EXPECT_EQ(strip_start_block("fn f() [ ] start [ a [ b ] ] tail"), "fn f() [ ]  tail");
  EXPECT_EQ(strip_start_block("x start [ 1 ] start [ 2 ]"), "x  start [ 2 ]");
  EXPECT_EQ(strip_start_block("no entry here"), "no entry here");
}

TEST(StripStartBlock, UnbalancedKeepsTheTextBefore) {
  EXPECT_EQ(strip_start_block("rec R [ int a: ] start [ [ ]"), "rec R [ int a: ] ");
  EXPECT_EQ(strip_start_block("start["), "start[");  // needs exactly one blank
}

TEST(ResolveUsePath, NamesWithSeparatorsAreUsedAsWritten) {
  EXPECT_EQ(kv::resolve_use_path("lib/x.kv", "main.kv"), "lib/x.kv");
  EXPECT_EQ(kv::resolve_use_path("lib\\x.kv", "main.kv"), "lib\\x.kv");
}

TEST(ReadFile, OnlyRegularFilesAreRead) {
  std::string text;
  EXPECT_FALSE(kv::read_file("/dev/zero", text));
  EXPECT_FALSE(kv::read_file("/", text));
  EXPECT_FALSE(kv::read_file("/no/such/file", text));
}
