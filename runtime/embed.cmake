# Turns runtime.asm into a C++ source holding its bytes, so emitasm carries the text.
# Called as: cmake -DINPUT=<runtime.asm> -DOUTPUT=<file.cpp> -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from runtime.asm at build time; do not edit.\n"
"#include \"runtime_text.h\"\n"
"namespace kv {\n"
"namespace {\n"
"const unsigned char kRuntimeBytes[] = {\n${bytes}0};\n"
"}  // namespace\n"
"std::string_view runtime_asm_text() {\n"
"  return std::string_view(reinterpret_cast<const char*>(kRuntimeBytes), sizeof kRuntimeBytes - 1);\n"
"}\n"
"}  // namespace kv\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
