// RAR 2.0's multimedia predictor, one per channel: each byte is stored as the
// difference from a prediction made of the bytes before it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>

namespace unrar {

// One channel of the multimedia predictor: the last byte, its last four
// differences, five adaptive weights and the errors each weight change
// would have made over the current run of 32 bytes.
struct AudioChannel {
  std::array<int, 5> weight{};
  std::array<int, 4> delta{};
  int lastDelta = 0;
  int lastByte = 0;
  std::array<unsigned, 11> error{};
  unsigned count = 0;
};

// The byte that the stored `symbol` stands for; moves the channel (and the
// delta shared across channels) on past it.
inline std::uint8_t predictAudio(AudioChannel& c, int& channelDelta, unsigned symbol) {
  ++c.count;
  c.delta[3] = c.delta[2];
  c.delta[2] = c.delta[1];
  c.delta[1] = c.lastDelta - c.delta[0];
  c.delta[0] = c.lastDelta;
  const int predicted =
      ((8 * c.lastByte + c.weight[0] * c.delta[0] + c.weight[1] * c.delta[1] +
        c.weight[2] * c.delta[2] + c.weight[3] * c.delta[3] + c.weight[4] * channelDelta) >>
       3) &
      0xFF;
  const int byte = (predicted - static_cast<int>(symbol)) & 0xFF;

  // The symbol is the prediction error as a signed byte, scaled like the deltas.
  const int err = static_cast<std::int8_t>(static_cast<std::uint8_t>(symbol)) * 8;
  auto add = [&c](unsigned i, int v) { c.error[i] += static_cast<unsigned>(std::abs(v)); };
  add(0, err);
  add(1, err - c.delta[0]);
  add(2, err + c.delta[0]);
  add(3, err - c.delta[1]);
  add(4, err + c.delta[1]);
  add(5, err - c.delta[2]);
  add(6, err + c.delta[2]);
  add(7, err - c.delta[3]);
  add(8, err + c.delta[3]);
  add(9, err - channelDelta);
  add(10, err + channelDelta);

  channelDelta = c.lastDelta =
      static_cast<std::int8_t>(static_cast<std::uint8_t>(byte - c.lastByte));
  c.lastByte = byte;

  if ((c.count & 0x1F) == 0) {
    // Every 32 bytes, nudge the weight whose change would have erred least.
    unsigned best = 0;
    for (unsigned i = 1; i < c.error.size(); ++i)
      if (c.error[i] < c.error[best]) best = i;
    c.error.fill(0);
    if (best > 0) {
      int& w = c.weight[(best - 1) / 2];
      if (best % 2 == 1) {
        if (w >= -16) --w;
      } else if (w < 16) {
        ++w;
      }
    }
  }
  return static_cast<std::uint8_t>(byte);
}

}  // namespace unrar
