// The second round: what it reports in programs that pass the type rules, where, and that
// the forms the toolchain builds as written pass. One table; each case is a main file (and
// the used files it needs) with the exact diagnostics.
#include <gtest/gtest.h>

#include "check_util.h"

namespace kv::vetter::test {
namespace {

struct Case {
  const char* name;
  std::string source;
  std::string expected;
  FileMap files = {};
};

std::string at(int n, const std::string& message, const std::string& near) {
  return line("line " + std::to_string(n), message, near);
}

const char kPoint[] = "rec P [ int x: int y: ]\n";

const Case kCases[] = {
    {"a type error hides the second round",
     "fn add(int a, int b) -> int [ give a + b: ]\nlet int n = \"s\":\nadd(1):\n",
     at(2, "let n: declared int but initializer is text", ":")},
    {"argument counts", "fn add(int a, int b) -> int [ give a + b: ]\nrec P [ int x: int y: ]\n"
     "add(1):\nadd(1, 2, 3):\nP(1):\nlen():\nprintout():\nprintout(1, 2, 3):\nkvlog():\n",
     at(3, "call to add(): expects 2 arguments but got 1", ")") +
         at(4, "call to add(): expects 2 arguments but got 3", ")") +
         at(5, "call to P(): expects 2 arguments but got 1", ")") +
         at(6, "call to len(): expects 1 argument but got 0", ")")},
    {"a function of the program takes over a built-in's count",
     "fn len(text a, text b) -> int [ give 0: ]\nlen(\"a\", \"b\"):\nlen(\"a\"):\n",
     at(3, "call to len(): expects 2 arguments but got 1", ")")},
    {"argument types of built-ins and constructors",
     "rec P [ int x: text t: ]\ntoint(5):\nabs(\"x\"):\nmin(1, 2.5):\nP(\"a\", \"b\"):\nP(1, 2):\n",
     at(2, "call to toint(): argument 1 expects text but got int", ")") +
         at(3, "call to abs(): argument 1 expects int or float but got text", ")") +
         at(5, "call to P(): argument 1 expects int but got text", ",") +
         at(6, "call to P(): argument 2 expects text but got int", ")")},
    {"results of pop, abs, min and max",
     "let list l = {1}:\nlet text a = pop(l):\nlet int b = abs(-2):\nlet int c = max(1, 2.5):\n"
     "let float d = min(1.5, 2):\nlet text e = abs(1):\n",
     at(4, "let c: declared int but initializer is float", ":") +
         at(6, "let e: declared text but initializer is int", ":")},
    {"undeclared functions, with the library that has them",
     "split(\"a b\", \" \"):\nweb_listen(8080):\nnosuch():\n",
     at(1, "undeclared function: split (defined in std.kv: add use \"std.kv\":)", "(") +
         at(2, "undeclared function: web_listen (defined in kavelweb.kv: add use \"kavelweb.kv\":)", "(") +
         at(3, "undeclared function: nosuch", "(")},
    {"declared twice, the first in a used file",
     "use \"std.kv\":\nfn reverse(text s) -> text [ give s: ]\nrec P [ int x: ]\nrec P [ int x: ]\n",
     at(2, "function reverse is already declared at std.kv:2", "(") +
         at(4, "record P is already declared at line 3", "["),
     {{"std.kv", "// text\nfn reverse(text s) -> text [\n  give s:\n]\n"}}},
    {"records and enums before their declarations",
     "fn f() -> int [ let P p = P(1): give p.x: ]\nfn g() -> E [ give E.A: ]\n"
     "rec P [ int x: ]\nenum E [ A: ]\n",
     at(1, "record P is used before its declaration at line 3", "(") +
         at(2, "enum E is used before its declaration at line 4", ".")},
    {"declared names and types", "let int ) = 1:\nfix , = 2:\nlet ( x:\nrec R [ int 5: ]\n"
     "fn f(int ) ) -> ( [ give {1}{0}: ]\n",
     at(1, "expected a name", ")") + at(2, "expected a name", ",") + at(3, "expected a type", "(") +
         at(4, "expected a name", "5") + at(5, "expected a name", ")") + at(5, "expected a type", "(")},
    {"fields the record lacks, read and written",
     "rec P [ int x: int y: ]\nlet P p = P(1, 2):\np.w = 5:\nprintln(p.z):\np.y = p.x:\n",
     at(3, "record P has no field 'w'", "=") + at(4, "record P has no field 'z'", ")")},
    {"fields only through a variable declared with a record type",
     "rec P [ int x: int y: ]\nfn mk() -> P [ give P(1, 2): ]\nfn f(any q) -> any [ give q.y: ]\n"
     "let P p = P(1, 2):\nfix c = p:\nlet list l = {p}:\nprintln(mk().x):\nprintln(c.y):\n"
     "println(l{0}.y):\nloop r in l [ println(r.y): ]\n",
     at(3, "field 'y': q is not declared with a record type", ":") +
         at(7, "field 'x' can only follow a variable name", ")") +
         at(8, "field 'y': c is not declared with a record type", ")") +
         at(9, "field 'y' can only follow a variable name", ")") +
         at(10, "field 'y': r is not declared with a record type", ")")},
    {"enum members", "enum E [ A: B: ]\nlet E e = E.B:\nlet E f = E.C:\nlet E g = E:\n",
     at(3, "enum E has no member 'C'", "C") + at(4, "expected '.'", ":")},
    {"variables as the compiled code finds them",
     "let int g = 1:\nfn a() [ let int s = 1: ]\nfn b() [ println(s): ]\nfn c() [ z = 3: g = 2: ]\n"
     "fn d() [ println(g): let int g = 2: ]\nfn e(int k) [ println(k + g): ]\n",
     at(3, "undeclared identifier: s", ")") + at(4, "undeclared identifier: z", "=") +
         at(5, "g is read before its declaration in this function", ")")},
    {"a match subject is a variable",
     "let int k = 1:\nmatch k [ 1 [ ] ]\nmatch 5 [ 5 [ ] ]\nmatch nosuch [ 5 [ ] ]\n",
     at(3, "match: the subject must be a variable name", "[") +
         at(4, "undeclared identifier: nosuch", "[")},
    {"int literals fit 64 bits",
     "let int a = 9223372036854775807:\nlet int b = -9223372036854775808:\n"
     "let int c = 0009223372036854775807:\nlet int d = 9223372036854775808:\n"
     "let int e = 99999999999999999999:\nlet int f = 5 - 9223372036854775808:\n",
     at(4, "int literal does not fit in 64 bits", "9223372036854775808") +
         at(5, "int literal does not fit in 64 bits", "99999999999999999999") +
         at(6, "int literal does not fit in 64 bits", "9223372036854775808")},
    {"floats the assembler reads as written",
     "let float a = 1.:\nlet float b = 0.0000000000000000000000000000000000000000000000000000001:\n"
     "let float c = 1.000000000000000000000000000000000000000000000000000:\n"
     "let float d = 1.0000000000000000000000000000000000000000000000000000:\nlet float e = 1.2.3:\n",
     at(4, "float literal with more than 52 digits", "1.0000000000000000000000000000000000000000000000000000") +
         at(5, "number literal with more than one '.'", "1.2.3")},
    {"collections take the first entry's form",
     "let map m = {1 -> 2, 3}:\nlet list l = {1, 2}:\nlet map n = {1 -> 2, 3 -> 4}:\n",
     at(1, "a collection mixes elements and key -> value pairs", "3")},
    {"the code inside ${...}", kPoint + std::string(
     "let P p = P(1, 2):\nprintln(\"${p.x} and ${p.y + 1}\"):\nprintln(\"${nosuch(1)}\"):\n"
     "println(\"${q}\"):\nprintln(\"${1 2}\"):\nprintln(\"${}\"):\nprintln(\"$ {x} ${p.z}\"):\n"),
     at(4, "undeclared function: nosuch", "(") + at(5, "undeclared identifier: q", "}") +
         at(6, "unexpected token '2' (kind=num)", "2") + at(7, "unexpected token '' (kind=eof)", "}") +
         at(8, "record P has no field 'z'", "}")},
    {"stop and skip belong in a loop",
     "stop:\nloop 2 [ when 1 [ skip: ] try [ stop: ] catch [ ] ]\nfn f() [ skip: ]\n",
     at(1, "stop: not inside a loop", ":") + at(3, "skip: not inside a loop", ":")},
    {"a coroutine is a function of the program", "fn w() [ yield: ]\nspawn w():\nspawn clock():\n",
     at(3, "spawn: 'clock' is a built-in, not a function of the program", ":")},
    {"a function with a result type ends in a give",
     "fn a(int k) -> int [ when k > 1 [ give 1: ] ]\n"
     "fn b(int k) -> int [ when k > 1 [ give 1: ] or k > 0 [ give 2: ] else [ give 3: ] ]\n"
     "fn c(int k) -> int [ match k [ 1 [ give 1: ] else [ give 0: ] ] ]\n"
     "fn d(int k) -> int [ match k [ 1 [ give 1: ] ] ]\n"
     "fn e() -> list [ try [ give {}: ] catch [ give {1}: ] ]\n"
     "fn f() -> int [ loop 3 [ give 1: ] ]\nfn g() -> text [ ]\nfn h() [ println(1): ]\n"
     "fn i(int k) -> int [ give k: println(k): ]\n",
     at(1, "function a() returns int but can reach its end without give", "]") +
         at(4, "function d() returns int but can reach its end without give", "]") +
         at(6, "function f() returns int but can reach its end without give", "]") +
         at(7, "function g() returns text but can reach its end without give", "]") +
         at(9, "function i() returns int but can reach its end without give", "]")},
    {"statements the front end reads as a field or an element and then ':'",
     kPoint + std::string("let P p = P(1, 2):\nlet list l = {1}:\np.x = 3:\nl{0} = 4:\np.x:\n"
     "l{0} + 1:\np.y{0} = 2:\nl{0}{0} = 1:\nlen(l) = 2:\n"),
     at(7, "expected ':'", "+") + at(8, "an element needs a list or a text, not int", "{") +
         at(8, "expected ':'", "{") + at(9, "expected ':'", "{") +
         at(10, "expected ':'", "=")},
    {"elements of lists and texts, by an int; set only in a list",
     "let list l = {1}:\nlet text t = \"ab\":\nlet map m = map_new():\nlet int n = 1:\nlet any a = l:\n"
     "l{0} = t{1}:\nprintln(a{n}{0}):\nprintln(n{0}):\nprintln(m{\"k\"}):\nt{0} = \"x\":\n"
     "println(l{\"0\"}):\nprintln(l{1.5}):\n",
     at(8, "an element needs a list or a text, not int", "{") +
         at(9, "an element needs a list or a text, not map", "{") +
         at(10, "an element is set only in a list, not in a text", "{") +
         at(11, "an index must be an int, not text", "{") + at(12, "an index must be an int, not float", "{")},
    {"what loops go through and count with",
     "enum E [ A: ]\nlet list l = {1}:\nloop x in l [ ]\nloop c in \"abc\" [ ]\nloop k in map_new() [ ]\n"
     "loop i in 1 to E.A step 2 [ ]\nloop 3 [ ]\nloop y in 5 [ ]\nloop z in 0 to 2.5 [ ]\nloop \"x\" [ ]\n"
     "loop w in 1 to 3 step \"s\" [ ]\n",
     at(8, "a loop goes through a list, a map or a text, not int", "5") +
         at(9, "a loop counts with ints, not float", "2.5") + at(10, "a loop counts with ints, not text", "x") +
         at(11, "a loop counts with ints, not text", "s")},
    {"len counts a text, a list or a map",
     "rec P [ int x: ]\nlen(\"ab\"):\nlen({1}):\nlen(map_new()):\nlen(5):\nlen(P(1)):\n",
     at(5, "call to len(): argument 1 expects a text, a list or a map but got int", ")") +
         at(6, "call to len(): argument 1 expects a text, a list or a map but got P", ")")},
    {"what would never run: code after the start block, a second start block",
     "let int a = 1:\nstart [ println(a): ]\nfn f() [ ]\nlet int b = 2:\nstart [ ]\n",
     at(4, "a statement after the start block never runs", "let") +
         at(5, "a second start block never runs (the first is at line 2)", "start")},
    {"text literals hold no byte 0 or 26, log levels are words",
     std::string("println(\"a\x1a\"):\nprintln(\"b") + '\0' + "\"):\nprintln(\"c\x7f\xff\"):\n"
     "kvlog.\"x y\"(1):\nkvlog.info(1):\nkvlog.warn(2):\n",
     at(1, "text literal holds a byte 0 or 26", "a\x1a") +
         at(2, "text literal holds a byte 0 or 26", std::string("b") + '\0') +
         at(4, "expected a name", "x y")},
    {"the symbols of a record line", "rec R [ int x: int y ]\n",
     at(1, "expected ':'", "]") + at(1, "expected ']'", "")},
    {"... of an enum line", "enum E [ A: B ]\n", at(1, "expected ':'", "]") + at(1, "expected ']'", "")},
    {"... and of a use line", "use nothing here\nrec S ( int z: ]\n",
     at(1, "expected ':'", "here") + at(2, "expected '['", "(")},
};

TEST(SecondRound, EachRuleWhereItFires) {
  for (const Case& c : kCases) EXPECT_EQ(diags(c.source, c.files), c.expected) << c.name;
}

}  // namespace
}  // namespace kv::vetter::test
