#include "build_cache.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "config_keys.h"
#include "pipeline.h"
#include "sha256.h"
#include "source.h"
#include "stage_io.h"
#include "text.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

// Bumped whenever what goes into a key or an entry changes, so old entries never match.
const char* const key_version = "kavel build cache 1";
const char* const entry_magic = "kavel cache entry\n";
const char* const entry_suffix = ".entry";

// One labelled value of the key, its length first, so no two lists of values run together.
void field(Sha256& key, std::string_view label, std::string_view value) {
  key.update(label);
  key.update(" " + std::to_string(value.size()) + ":");
  key.update(value);
  key.update("\n");
}

// The file the command processor starts for a program named without a folder: cmd.exe
// looks in the current folder, then along PATH, adding ".exe"; the POSIX shell only
// along PATH. "" when it finds none.
std::string program_file(const std::string& name, Host host) {
  if (name.find_first_of(host == Host::windows ? "/\\" : "/") != std::string::npos) return name;
  std::vector<std::string> tries;
  if (host == Host::windows) tries.push_back(name);
  for (const std::string& dir : split(getenv("PATH"), host == Host::windows ? ";" : ":"))
    if (!dir.empty()) tries.push_back(dir + "/" + name);
  const bool add_exe = host == Host::windows && name.find('.') == std::string::npos;
  for (const std::string& t : tries) {
    if (!file_identity(t).empty()) return t;
    if (add_exe && !file_identity(t + ".exe").empty()) return t + ".exe";
  }
  return "";
}

void tool_field(Sha256& key, std::string_view label, const std::string& value, Host host) {
  const std::string file = program_file(value, host);
  field(key, label, value + " -> " + file + " " + (file.empty() ? "" : file_identity(file)));
}

// The folder a stage's own program lies in, where it looks for a used name it cannot
// open in the current folder: the program's real folder (POSIX: links followed).
std::string stage_folder(const std::string& stage, Host host) {
  if (host == Host::windows) {
    std::string dir = dir_part(backslashed(stage));
    return dir.empty() ? dir : dir.substr(0, dir.size() - 1);
  }
  std::error_code failed;
  fs::path real = fs::canonical(stage, failed);
  if (failed) {
    std::string dir = dir_part(stage);
    return dir.empty() ? "." : dir.substr(0, dir.size() - 1);
  }
  return real.parent_path().string();
}

// Only a file can be read again by the stages: a pipe or a device read here would give
// them nothing, or something else.
bool read_regular_file(const std::string& path, std::string& text) {
  std::error_code failed;
  return fs::is_regular_file(path, failed) && read_file(path, text);
}

// The source and every file its `use` lines bring in, found as the stage in stage_dir
// finds them: a name holding a folder as written, a bare name in the current folder when
// it opens there, else beside the stage.
bool source_fields(Sha256& key, const std::string& source, const std::string& stage_dir) {
  std::string text;
  if (!read_regular_file(source, text)) return false;
  field(key, "source " + source, text);
  field(key, "stage folder", stage_dir);
  const UseReader reader = [&key, &stage_dir](const std::string& name, std::string& body) {
    const bool as_written = name.find_first_of("/\\") != std::string::npos || can_open(name);
    const std::string path = as_written ? name : stage_dir + "/" + name;
    if (!read_regular_file(path, body)) return false;
    field(key, "use " + name + " -> " + path, body);
    return true;
  };
  try {
    expand_uses(source, std::move(text), reader);
  } catch (const CannotOpenFile&) {
    return false;
  }
  return true;
}

bool read_bytes(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

bool write_bytes(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  return !f.fail();
}

std::string entry_path(const BuildCache& cache, const std::string& key) {
  return cache.folder + "/" + key + entry_suffix;
}

// "kavel cache entry", the program's SHA-256 and its size, one a line, then the program.
std::string entry_text(std::string_view program) {
  return entry_magic + sha256_hex(program) + "\n" + std::to_string(program.size()) + "\n" + std::string(program);
}

// The program an entry holds, when the entry is whole.
bool entry_program(std::string_view entry, std::string_view& program) {
  const std::string_view magic(entry_magic);
  if (entry.substr(0, magic.size()) != magic) return false;
  entry.remove_prefix(magic.size());
  const size_t digest_end = entry.find('\n');
  if (digest_end != 64) return false;
  const std::string_view digest = entry.substr(0, 64);
  entry.remove_prefix(65);
  const size_t size_end = entry.find('\n');
  if (size_end == std::string_view::npos || size_end == 0 || size_end > 19) return false;
  const std::string_view size_text = entry.substr(0, size_end);
  if (size_text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  program = entry.substr(size_end + 1);
  return std::to_string(program.size()) == size_text && sha256_hex(program) == digest;
}

bool is_entry_name(const fs::path& p) {
  const std::string stem = p.stem().string();
  return p.extension() == entry_suffix && stem.size() == 64 &&
         stem.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

BuildCache open_cache(const std::string& build_folder) {
  BuildCache cache;
  std::string wanted = getenv("KAVEL_CACHE");
  for (char& c : wanted)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (wanted == "off" || wanted == "0") return cache;
  const std::string folder = build_folder + "/cache";
  if (own_private_folder(folder)) cache.folder = folder;
  return cache;
}

std::string build_key(const ToolPaths& tools, const std::string& source, const std::string& name, Host host) {
  Sha256 key;
  field(key, "version", key_version);
  field(key, "host", host == Host::windows ? "windows" : "posix");
  field(key, "program", name);
  // The checker and the front end each find the used files beside themselves.
  std::vector<std::string> folders = {stage_folder(tools.checker, host), stage_folder(tools.frontend, host)};
  if (folders[0] == folders[1]) folders.pop_back();
  for (const std::string& folder : folders)
    if (!source_fields(key, source, folder)) return "";
  tool_field(key, "checker", tools.checker, host);
  tool_field(key, "front end", tools.frontend, host);
  tool_field(key, "optimiser", tools.optimiser, host);
  tool_field(key, "code generator", tools.codegen, host);
  for (const ConfigKey& k : kConfigKeys) tool_field(key, k.key, tools.*k.field, host);
  field(key, "NASMENV", getenv("NASMENV"));
  return key.hex_digest();
}

bool cache_fetch(const BuildCache& cache, const std::string& key, const std::string& exe) {
  if (cache.folder.empty() || key.empty()) return false;
  const std::string path = entry_path(cache, key);
  std::string entry;
  if (!read_bytes(path, entry)) return false;
  std::string_view program;
  std::error_code ignored;
  if (!entry_program(entry, program)) {
    fs::remove(path, ignored);
    return false;
  }
  if (!write_bytes(exe, program)) {
    fs::remove(exe, ignored);
    return false;
  }
  fs::permissions(exe, fs::perms::owner_exec, fs::perm_options::add, ignored);
  // Marks the entry as just run, for the trim.
  fs::last_write_time(path, fs::file_time_type::clock::now(), ignored);
  return true;
}

void cache_store(const BuildCache& cache, const std::string& key, const std::string& exe, const std::string& scratch) {
  if (cache.folder.empty() || key.empty()) return;
  std::string program;
  if (!read_bytes(exe, program)) return;
  const std::string entry = entry_text(program);
  if (entry.size() > cache.max_bytes) return;
  std::error_code failed;
  if (write_bytes(scratch, entry)) fs::rename(scratch, entry_path(cache, key), failed);
  // Left over when the write or the rename failed (Windows does not replace a file in use).
  fs::remove(scratch, failed);
  cache_trim(cache);
}

void cache_trim(const BuildCache& cache) {
  struct Entry {
    fs::file_time_type used;
    std::uint64_t size;
    fs::path path;
  };
  std::vector<Entry> entries;
  std::error_code failed;
  for (fs::directory_iterator it(cache.folder, failed), end; !failed && it != end; it.increment(failed)) {
    if (!is_entry_name(it->path())) continue;
    std::error_code gone;
    Entry e{it->last_write_time(gone), it->file_size(gone), it->path()};
    if (!gone) entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.used > b.used; });
  std::uint64_t bytes = 0;
  std::size_t kept = 0;
  for (const Entry& e : entries) {
    if (kept < cache.max_entries && bytes + e.size <= cache.max_bytes) {
      ++kept;
      bytes += e.size;
    } else {
      fs::remove(e.path, failed);
    }
  }
}

}  // namespace kv
