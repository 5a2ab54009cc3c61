// The pieces of the runner's cache that need no toolchain: the digest, entries that must
// come back whole or not at all, the bounds, and a folder someone else could write in.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "build_cache.h"
#include "sha256.h"
#include "test_util.h"

namespace {

using kvtest::fs::path;
using kvtest::slurp;
using kvtest::spit;

// The FIPS 180-2 examples, fed whole and in pieces that straddle the 64-byte blocks.
TEST(Sha256, KnownDigestsWhateverThePieces) {
  const std::vector<std::pair<std::string, std::string>> known = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : known) {
    EXPECT_EQ(kv::sha256_hex(text), digest) << text.size() << " bytes";
    for (size_t piece : {1, 55, 63, 64, 65, 1000}) {
      kv::Sha256 s;
      for (size_t at = 0; at < text.size(); at += piece) s.update(std::string_view(text).substr(at, piece));
      EXPECT_EQ(s.hex_digest(), digest) << text.size() << " bytes in pieces of " << piece;
    }
  }
}

class CacheStore : public ::testing::Test {
 protected:
  path dir;
  kv::BuildCache cache;
  const std::string key_a = std::string(64, 'a'), key_b = std::string(64, 'b'), key_c = std::string(64, 'c');

  void SetUp() override {
    dir = kvtest::fresh_folder(path(KAVEL_TEST_WORK) / "cache");
    cache.folder = (dir / "cache").string();
    kvtest::fs::create_directories(cache.folder);
  }
  // A program of these bytes stored under key.
  void store(const std::string& key, const std::string& program) {
    spit(dir / "built.exe", program);
    kv::cache_store(cache, key, (dir / "built.exe").string(), (dir / "scratch").string());
  }
  // The program fetched for key, or "(none)".
  std::string fetch(const std::string& key) {
    kvtest::fs::remove(dir / "got.exe");
    return kv::cache_fetch(cache, key, (dir / "got.exe").string()) ? slurp(dir / "got.exe") : "(none)";
  }
  path entry(const std::string& key) { return path(cache.folder) / (key + ".entry"); }
  void used_seconds_ago(const std::string& key, int seconds) {
    kvtest::fs::last_write_time(entry(key), kvtest::fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  }
};

TEST_F(CacheStore, AnEntryComesBackWholeOrNotAtAll) {
  const std::string program("MZ\0\x01 a program with every byte \xFF\r\n", 34);
  store(key_a, program);
  EXPECT_EQ(fetch(key_a), program);
  EXPECT_FALSE(kvtest::fs::exists(dir / "scratch"));
  EXPECT_EQ(fetch(key_b), "(none)");

  const std::string whole = slurp(entry(key_a));
  const std::vector<std::pair<const char*, std::string>> damaged = {
      {"cut short", whole.substr(0, whole.size() - 1)},
      {"a byte of the program changed", whole.substr(0, whole.size() - 1) + "x"},
      {"only the header", whole.substr(0, whole.size() - program.size())},
      {"another format", "kavel cache entry 2\n" + whole.substr(whole.find('\n') + 1)},
  };
  for (const auto& [what, text] : damaged) {
    spit(entry(key_a), text);
    EXPECT_EQ(fetch(key_a), "(none)") << what;
    EXPECT_FALSE(kvtest::fs::exists(entry(key_a))) << what << ": a damaged entry is removed";
  }
}

TEST_F(CacheStore, TheEntriesRunLeastRecentlyGoFirst) {
  cache.max_entries = 2;
  store(key_a, "program a");
  store(key_b, "program b");
  used_seconds_ago(key_a, 20);
  used_seconds_ago(key_b, 10);
  EXPECT_EQ(fetch(key_a), "program a");  // a is now the one run last
  store(key_c, "program c");
  EXPECT_EQ(fetch(key_b), "(none)");
  EXPECT_EQ(fetch(key_a), "program a");
  EXPECT_EQ(fetch(key_c), "program c");

  // The size bound (entries are about 90 bytes larger than their programs): a program
  // larger than the whole cache is not kept, and one that leaves no room for the others
  // is kept alone.
  cache.max_entries = 10;
  cache.max_bytes = 10000;
  store(key_b, std::string(9950, 'x'));
  EXPECT_EQ(fetch(key_b), "(none)");
  EXPECT_EQ(fetch(key_a), "program a");
  used_seconds_ago(key_a, 5);
  used_seconds_ago(key_c, 5);
  store(key_b, std::string(9850, 'x'));
  EXPECT_EQ(fetch(key_a), "(none)");
  EXPECT_EQ(fetch(key_c), "(none)");
  EXPECT_EQ(fetch(key_b).size(), 9850u);

  // Files that are not entries are never removed.
  spit(path(cache.folder) / "notes.txt", "mine");
  kv::cache_trim(cache);
  EXPECT_TRUE(kvtest::fs::exists(path(cache.folder) / "notes.txt"));
}

// A source or used file that is not a file (a pipe here, with no writer, which would
// wait for ever) is never read for a key: the stages must get it untouched.
TEST_F(CacheStore, OnlyFilesMakeAKey) {
  kv::ToolPaths tools;
  kv::set_stage_paths(tools, dir.string(), kv::Host::posix);
  spit(dir / "main.kv", "use \"piped.kv\":\nstart [ ]\n");
  ASSERT_EQ(::mkfifo((dir / "piped.kv").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.kv").c_str(), 0600), 0);
  EXPECT_EQ(kv::build_key(tools, (dir / "pipe.kv").string(), "pipe", kv::Host::posix), "");
  EXPECT_EQ(kv::build_key(tools, (dir / "main.kv").string(), "main", kv::Host::posix), "");
  kvtest::fs::remove(dir / "piped.kv");
  spit(dir / "piped.kv", "fn f() -> int [ give 1: ]\n");
  EXPECT_EQ(kv::build_key(tools, (dir / "main.kv").string(), "main", kv::Host::posix).size(), 64u);
}

TEST_F(CacheStore, OnlyAFolderOfOurOwnIsUsed) {
  const std::string saved = kv::getenv("KAVEL_CACHE");
  const std::string build = (dir / "build").string();
  kvtest::fs::create_directories(build);
  for (const char* off : {"off", "OFF", "0"}) {
    kv::setenv("KAVEL_CACHE", off);
    EXPECT_EQ(kv::open_cache(build).folder, "") << off;
  }
  kv::setenv("KAVEL_CACHE", "");
  EXPECT_EQ(kv::open_cache(build).folder, build + "/cache");
  struct stat st {};
  ASSERT_EQ(::stat((build + "/cache").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ::chmod((build + "/cache").c_str(), 0777);  // anyone may put programs there
  EXPECT_EQ(kv::open_cache(build).folder, "");
  ::chmod((build + "/cache").c_str(), 0700);
  ::chmod(build.c_str(), 0777);  // anyone may swap the folder for another
  EXPECT_EQ(kv::open_cache(build).folder, "");
  ::chmod(build.c_str(), 01777);  // unless only owners may rename
  EXPECT_EQ(kv::open_cache(build).folder, build + "/cache");
  kvtest::fs::remove_all(build + "/cache");
  kvtest::fs::create_directory_symlink(dir, build + "/cache");  // not a folder of ours
  EXPECT_EQ(kv::open_cache(build).folder, "");
  kv::setenv("KAVEL_CACHE", saved);
}

}  // namespace
#endif
