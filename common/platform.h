// Everything that differs between the Windows and the POSIX host lives here.
#pragma once
#include <string>

namespace kv {

// Folder of the running executable, without a trailing separator.
std::string exe_dir();

}  // namespace kv
