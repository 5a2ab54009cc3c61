// SHA-256, for the keys and the checks of the runner's build cache: a key names
// everything a build reads, so two builds that differ in any byte must never meet.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

class Sha256 {
 public:
  Sha256();
  void update(std::string_view bytes);
  // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
  std::string hex_digest();

 private:
  void block(const unsigned char* p);
  std::array<std::uint32_t, 8> h_;
  std::array<unsigned char, 64> pending_{};
  std::size_t pending_size_ = 0;
  std::uint64_t total_ = 0;
};

// The digest of one text.
std::string sha256_hex(std::string_view bytes);

}  // namespace kv
