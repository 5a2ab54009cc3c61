#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace kv {

#ifdef _WIN32
std::string exe_dir() {
  char buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string path(buf, n);
  size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? path : path.substr(0, cut);
}
#else
std::string exe_dir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}
#endif

}  // namespace kv
