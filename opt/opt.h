// opt: the IR-to-IR stage between the front end and the code generator.
#pragma once
#include <string>
#include <string_view>

namespace kv {

// The program in IR text, written back line for line with CR LF line ends. For now it
// passes every line through unchanged; passes that rewrite the IR come later.
std::string optimise_ir(std::string_view ir);

}  // namespace kv
