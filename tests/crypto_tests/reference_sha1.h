// An independent model of the RAR 3 key derivation for the tests, built on a
// plain SHA-1 written in the classic public-domain style: its transform works
// in place on a block of the caller's data when it can, and so modifies it.
// The product derives with libcrypto and emulates that effect; agreement of the
// two on long passwords checks the emulation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace refsha1 {

struct Result {
  std::array<std::uint8_t, 16> key{};
  std::array<std::uint8_t, 16> iv{};
  bool operator==(const Result&) const = default;
};

// `input` is the UTF-16LE password followed by the salt. writeBack false gives
// the derivation a SHA-1 without the in-place effect would produce.
Result deriveRar3(std::string input, bool writeBack);

// Plain SHA-1 of `data`, for checking the model itself.
std::array<std::uint8_t, 20> sha1(const std::string& data);

}  // namespace refsha1
