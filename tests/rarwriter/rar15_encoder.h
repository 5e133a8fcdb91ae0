// A RAR 1.5 stream encoder for test fixtures (unpack version 15). The format
// sends no tables: both sides keep the same adaptive state, so the encoder
// runs the decoder's state alongside a greedy match finder and picks, at each
// position, one of the forms the state allows. It aims at covering every form
// of the format (literals, the literal-only mode and its escapes, long
// matches with all three length codings, the short matches: near, repeated,
// old and far distances, and the switch of the short-match codes), not at
// packing well.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rar15enc {

// How often each form was written, so tests can tell what a stream covers.
struct Stats {
  std::uint64_t literals = 0;
  std::uint64_t literalsOnlyMode = 0;  // literals written in the literal-only mode
  std::uint64_t escapeMatches = 0;     // short matches inside that mode
  std::uint64_t modeExits = 0;         // back from it to flag bytes
  std::uint64_t longMatches = 0;
  std::uint64_t longUnary = 0;  // long match lengths in unary (low average length)
  std::uint64_t longCode1 = 0;  // ... with the first length code
  std::uint64_t longCode2 = 0;  // ... with the second
  // Long matches of raw length 0 that are near by the far-offset limit in
  // force before the match and not by the one after it, or the other way round.
  std::uint64_t nearByOldLimit = 0;
  std::uint64_t nearMatches = 0;
  std::uint64_t repeatLast = 0;   // selector 9
  std::uint64_t repeatBits = 0;   // the one-bit repeat after two repeats
  std::uint64_t oldDistance = 0;  // selectors 10-13
  std::uint64_t farMatches = 0;   // selector 14
  std::uint64_t codeSwitches = 0;
  std::uint64_t highSelectorAverage = 0;  // short matches coded with the second selector pair
};

class Encoder {
 public:
  Encoder();
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // The packed data of the stream's next entry; entries after the first
  // continue the stream as a solid archive's entries do.
  std::string pack(const std::string& data);

  const Stats& stats() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace rar15enc
