// uninstall.exe: removes what setup put into LOCALAPPDATA/Kavel, the registry entries
// its script created and the install folder's entry in the user's PATH.
#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform.h"
#include "stage_io.h"
#include "uninstall_plan.h"

namespace {

std::string default_value(HKEY root, const char* key) {
  char buf[1024];
  DWORD size = sizeof buf, type = 0;
  if (RegGetValueA(root, key, nullptr, RRF_RT_REG_SZ, &type, buf, &size) != ERROR_SUCCESS) return "";
  return std::string(buf);
}

// Removes a key with everything below it; false when there was no such key.
bool delete_tree(HKEY root, const char* key) {
  if (RegDeleteTreeA(root, key) != ERROR_SUCCESS) return false;
  RegDeleteKeyA(root, key);  // gone already where the tree call removed the key itself
  return true;
}

// Takes the install folder out of HKCU\Environment\Path, keeping the value's type.
bool remove_from_user_path(const std::string& folder) {
  HKEY env;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &env) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = 0;
  bool changed = false;
  if (RegQueryValueExA(env, "Path", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::string value(size + 1, '\0');
    if (RegQueryValueExA(env, "Path", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
        ERROR_SUCCESS) {
      value.resize(strnlen(value.c_str(), size));
      std::string cleaned = kv::uninstall::path_without(value, folder);
      if (cleaned != value) {
        changed = RegSetValueExA(env, "Path", 0, type, reinterpret_cast<const BYTE*>(cleaned.c_str()),
                                 static_cast<DWORD>(cleaned.size() + 1)) == ERROR_SUCCESS;
      }
    }
  }
  RegCloseKey(env);
  if (changed) {
    DWORD_PTR result;
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                        SMTO_ABORTIFHUNG, 2000, &result);
  }
  return changed;
}

// A running program cannot delete its own file: a detached command processor does
// it once this process has ended, and then removes the folder if it is empty.
void delete_self_later(const std::string& exe, const std::string& folder) {
  std::string cmd = "cmd.exe /c \"ping -n 3 127.0.0.1 >NUL & del /F /Q \"" + exe + "\" >NUL 2>NUL & rmdir \"" +
                    folder + "\" 2>NUL\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = kv::program_args(argc, argv);
  std::string local = kv::getenv("LOCALAPPDATA");
  if (local.empty()) {
    kv::err_line("uninstall: LOCALAPPDATA is not set; cannot find the install folder");
    kv::flush_all();
    return 1;
  }
  // setup's script names the folder with a forward slash; files are handled with
  // Windows separators.
  const std::string as_on_path = local + "/Kavel";
  const std::string dir = kv::backslashed(as_on_path);
  DWORD attrs = GetFileAttributesA(dir.c_str());
  bool have_dir = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);

  if (!kv::uninstall::quiet(args)) {
    kv::out_line("Remove Kavel from " + dir + "? [y/N]");
    kv::flush_all();
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    if (answer != "y" && answer != "Y" && answer != "yes" && answer != "YES") {
      kv::out_line("Nothing removed.");
      kv::flush_all();
      return 1;
    }
  }

  char self_buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, self_buf, sizeof self_buf);
  std::string self(self_buf, n);
  bool self_inside = false;

  int removed = 0;
  if (have_dir) {
    for (const std::string& rel : kv::uninstall::installed_files()) {
      std::string path = dir + "\\" + kv::backslashed(rel);
      if (lstrcmpiA(path.c_str(), self.c_str()) == 0) {
        self_inside = true;
        continue;
      }
      if (DeleteFileA(path.c_str())) ++removed;
    }
    for (const std::string& rel : kv::uninstall::installed_folders())
      RemoveDirectoryA((dir + "\\" + kv::backslashed(rel)).c_str());
  }
  kv::out_line("  removed " + std::to_string(removed) + " files from " + dir);

  const char* classes_kv = "Software\\Classes\\.kv";
  if (default_value(HKEY_CURRENT_USER, classes_kv) == "KavelFile.kv" && delete_tree(HKEY_CURRENT_USER, classes_kv))
    kv::out_line("  removed the .kv file type");
  bool file_type_removed = false;
  if (delete_tree(HKEY_CURRENT_USER, "Software\\Classes\\KavelFile.kv")) {
    kv::out_line("  removed the KavelFile.kv file class");
    file_type_removed = true;
  }
  // Explorer keeps showing the old icon until it hears that associations changed.
  if (file_type_removed) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  if (delete_tree(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kavel"))
    kv::out_line("  removed the Control Panel entry");
  if (remove_from_user_path(as_on_path)) kv::out_line("  removed " + as_on_path + " from your PATH");

  if (self_inside) {
    delete_self_later(self, dir);
  } else if (have_dir && !RemoveDirectoryA(dir.c_str())) {
    kv::out_line("  kept " + dir + ": it holds files Kavel did not install");
  }
  kv::out_line("Kavel removed.");
  kv::flush_all();
  return 0;
}
#endif
