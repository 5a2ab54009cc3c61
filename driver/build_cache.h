// The runner's cache of built programs, in <build folder>/cache: kavel runs the program
// it built last time when nothing the build reads has changed. kavelc never uses it.
//
// An entry is one file, <key>.entry, whose name is the key of the build that made it: the
// SHA-256 of everything the build reads (the source and every file its `use` lines bring
// in, as the stages find them; the stage programs and the tools of the configuration;
// the configuration's values; the assembler's options; the program's name). A tool is
// told apart by its size, its times and its file number, as make tells files apart: the
// stages and tools are too large to read on every run.
//
// Runs at the same time share the folder without a lock: an entry is written whole under
// another name and then renamed into place, so a reader finds the old file, the new one
// or none, never a part; and the entry carries the digest of the program it holds, which
// is checked before the program is used. The folder keeps at most cache_max_entries
// entries and cache_max_bytes bytes: after each store, the entries run least recently
// are removed (running one marks it as used).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "config.h"
#include "platform.h"

namespace kv {

inline constexpr std::size_t cache_max_entries = 256;
inline constexpr std::uint64_t cache_max_bytes = 256ull << 20;

struct BuildCache {
  std::string folder;
  std::size_t max_entries = cache_max_entries;
  std::uint64_t max_bytes = cache_max_bytes;
};

// The cache of this build folder, or one with an empty folder when it is switched off
// (KAVEL_CACHE=off) or the folder is not ours alone.
BuildCache open_cache(const std::string& build_folder);

// The key of building source (the path as the stages get it) into a program of this
// name with these tools; "" when it cannot be told, say a used file that cannot be read
// (the build then reports it).
std::string build_key(const ToolPaths& tools, const std::string& source, const std::string& name, Host host);

// Writes the program stored under key to exe; false when there is no whole entry (a
// damaged one is removed).
bool cache_fetch(const BuildCache& cache, const std::string& key, const std::string& exe);

// Stores the program exe under key, writing through scratch (a file name on the cache's
// volume that no other run uses), then trims the folder. Failures only cost the entry.
void cache_store(const BuildCache& cache, const std::string& key, const std::string& exe, const std::string& scratch);

// Removes the entries run least recently until the folder is within its bounds.
void cache_trim(const BuildCache& cache);

}  // namespace kv
