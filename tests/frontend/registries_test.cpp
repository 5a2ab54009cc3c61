#include "registries.h"

#include <gtest/gtest.h>

using kv::frontend::EnumRegistry;
using kv::frontend::NameList;
using kv::frontend::SymbolTable;

TEST(SymbolTable, NewestDeclarationWinsAndUnknownIsTilde) {
  SymbolTable t;
  EXPECT_EQ(t.type_of("p"), "~");
  t.add("p", "Point");
  t.add("q", "int");
  t.add("p", "Line");
  EXPECT_EQ(t.type_of("p"), "Line");
  EXPECT_EQ(t.type_of("q"), "int");
  EXPECT_EQ(t.type_of("P"), "~");  // names are case-sensitive
  t.add("q", "int");
  EXPECT_EQ(t.size(), 4u);  // entries are kept, never replaced
}

TEST(NameList, KeepsFirstAppearanceOrder) {
  NameList l;
  EXPECT_TRUE(l.add("b.kv"));
  EXPECT_TRUE(l.add("a.kv"));
  EXPECT_FALSE(l.add("b.kv"));
  EXPECT_TRUE(l.add("./b.kv"));  // a text comparison, not a file comparison
  EXPECT_EQ(l.names(), (std::vector<std::string>{"b.kv", "a.kv", "./b.kv"}));
  EXPECT_TRUE(l.contains("a.kv"));
  EXPECT_FALSE(l.contains("c.kv"));
}

TEST(EnumRegistry, OrdinalsCountEveryDeclarationOfTheEnum) {
  EnumRegistry r;
  r.declare("E");
  r.add_variant("E", "A");
  r.add_variant("E", "B");
  r.declare("F");
  r.add_variant("F", "A");
  r.declare("E");
  r.add_variant("E", "C");
  r.add_variant("E", "A");
  EXPECT_EQ(r.ordinal("E", "A"), 0);  // the first pair wins
  EXPECT_EQ(r.ordinal("E", "B"), 1);
  EXPECT_EQ(r.ordinal("E", "C"), 2);
  EXPECT_EQ(r.ordinal("F", "A"), 0);
  EXPECT_EQ(r.ordinal("F", "B"), 0);  // not a variant of F
  EXPECT_EQ(r.ordinal("G", "A"), 0);
  EXPECT_TRUE(r.is_enum("F"));
  EXPECT_FALSE(r.is_enum("G"));
  r.declare("Empty");
  EXPECT_TRUE(r.is_enum("Empty"));
}
