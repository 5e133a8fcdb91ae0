#include "rar5_inputs.h"

#include <cmath>
#include <cstring>
#include <future>
#include <random>
#include <vector>

#include "rar5_encoder.h"
#include "rar_writer.h"

namespace bench::rar5 {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::string textLike(std::uint64_t size, unsigned seed) {
  static const char* const kWords[] = {
      "the ",    "archive ", "window ", "of ",     "and ",     "stream ",  "block ",  "table ",
      "length ", "offset ",  "with ",   "filter ", "decoder ", "memory ",  "thread ", "entry ",
      "solid ",  "header ",  "a ",      "is ",     "to ",      "in ",      "data ",   "file ",
      "size ",   "value ",   "code ",   "symbol ", "match ",   "literal ", "bits ",   "byte "};
  std::mt19937_64 rng(seed);
  std::string s;
  s.reserve(size + 64);
  while (s.size() < size) {
    const std::uint64_t r = rng();
    s += kWords[r % 32];
    if ((r >> 8) % 11 == 0) s += std::to_string((r >> 16) % 100000) + ", ";
    if ((r >> 24) % 17 == 0) s += ".\n";
  }
  s.resize(size);
  return s;
}

// 64-byte records: counters, a timestamp, a name from a small set, samples, noise.
std::string binary(std::uint64_t size, unsigned seed) {
  static const char kNames[8][16] = {"alpha", "bravo", "charlie", "delta",
                                     "echo",  "fox",   "golf",    "hotel"};
  std::mt19937_64 rng(seed);
  std::string s(size, '\0');
  for (std::uint64_t at = 0, id = 0; at + 64 <= size; at += 64, ++id) {
    char rec[64] = {};
    const auto stamp = static_cast<std::uint32_t>(1700000000 + id * 3 + rng() % 3);
    std::memcpy(rec, &id, 8);
    std::memcpy(rec + 8, &stamp, 4);
    std::memcpy(rec + 12, kNames[rng() % 8], 16);
    for (int k = 0; k < 8; ++k) {
      const auto v = static_cast<float>(std::sin(static_cast<double>(id) / (10 + k)));
      std::memcpy(rec + 28 + 4 * k, &v, 4);
    }
    const std::uint32_t noise = static_cast<std::uint32_t>(rng());
    std::memcpy(rec + 60, &noise, 4);
    std::memcpy(s.data() + at, rec, 64);
  }
  return s;
}

// Instructions with calls and jumps to a few thousand targets, relative as x86 has them.
std::string x86(std::uint64_t size, unsigned seed) {
  static const char kOps[] = "\x55\x89\xE5\x8B\x45\x08\x83\xC4\x10\xC3\x90\x48\x8D\x05\x0F\xB6";
  std::mt19937_64 rng(seed);
  std::string s;
  s.reserve(size + 8);
  while (s.size() < size) {
    const std::uint64_t r = rng();
    if (r % 5 == 0) {
      s.push_back(r & 0x100 ? '\xE9' : '\xE8');
      const auto target = static_cast<std::int64_t>(((r >> 16) % 4000) * 4096);
      const auto rel = static_cast<std::uint32_t>(target - static_cast<std::int64_t>(s.size() + 4));
      for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(rel >> (8 * k)));
    } else {
      for (int k = 0; k < 3; ++k) s.push_back(kOps[(r >> (8 * k + 3)) % 16]);
    }
  }
  s.resize(size);
  return s;
}

rarwriter::Entry packed(const std::string& name, std::string data,
                        const rarwriter::Rar5Compression& declared, bool e8) {
  rar5enc::Settings settings;
  settings.dictionary = declared.dictionary;
  settings.wideDistances = declared.version == 1 && !declared.rar5Distances;
  settings.effort = declared.method;
  std::vector<rar5enc::Filter> filters;
  if (e8) {
    const std::uint64_t piece = std::min<std::uint64_t>(4 * kMiB, declared.dictionary / 2);
    for (std::uint64_t at = 0; at + 4 <= data.size(); at += piece)
      filters.push_back(
          {at, static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, data.size() - at)),
           rar5enc::FilterType::E8, 1, 0});
  }
  rarwriter::Entry e;
  e.name = name;
  e.prepacked = rarwriter::Entry::Prepacked{};
  e.prepacked->bytes = rar5enc::Encoder(settings).pack(data, {}, filters);
  e.prepacked->rar5 = declared;
  e.data = std::move(data);
  return e;
}

void writeBoth(const std::string& path, const std::string& unarPath,
               std::vector<rarwriter::Entry> entries) {
  rarwriter::write(path, entries);
  for (rarwriter::Entry& e : entries) e.prepacked->bytes.push_back('\0');
  rarwriter::write(unarPath, entries);
}

rarwriter::Rar5Compression declare(std::uint64_t dictionary, std::uint8_t version) {
  rarwriter::Rar5Compression c;
  c.dictionary = dictionary;
  c.version = version;
  return c;
}

}  // namespace

void writeMixed(const std::string& path, const std::string& unarPath, std::uint64_t size) {
  const std::uint64_t third = size / 3;
  const rarwriter::Rar5Compression c = declare(32 * kMiB, 0);
  // Three streams, packed side by side.
  auto text = std::async(std::launch::async,
                         [&] { return packed("text.txt", textLike(third, 1), c, false); });
  auto records = std::async(std::launch::async,
                            [&] { return packed("records.bin", binary(third, 2), c, false); });
  rarwriter::Entry code = packed("code.exe", x86(size - 2 * third, 3), c, true);
  writeBoth(path, unarPath, {text.get(), records.get(), std::move(code)});
}

void writeLargeWindow(const std::string& path, const std::string& unarPath, std::uint64_t size) {
  std::string data = textLike(size / 2, 4);
  data.reserve(size);
  for (std::uint64_t at = 0; data.size() < size; ++at) {
    // The same text again, a byte changed every MiB.
    data.push_back(at % kMiB == 0 ? '#' : data[at]);
  }
  writeBoth(path, unarPath,
            {packed("window.txt", std::move(data), declare(1024 * kMiB, 0), false)});
}

void writeManyEntries(const std::string& path, const std::string& unarPath, int count,
                      std::uint64_t entrySize) {
  const rarwriter::Rar5Compression c = declare(32 * kMiB, 0);
  auto piece = [&](unsigned i) {
    return i % 2 ? packed("code", x86(entrySize, 20 + i), c, true)
                 : packed("text", textLike(entrySize, 20 + i), c, false);
  };
  std::vector<rarwriter::Entry> pieces;
  for (unsigned i = 0; i < 8; i += 2) {
    // Two at a time, side by side.
    auto other = std::async(std::launch::async, piece, i + 1);
    pieces.push_back(piece(i));
    pieces.push_back(other.get());
  }
  std::vector<rarwriter::Entry> entries;
  for (int i = 0; i < count; ++i) {
    entries.push_back(pieces[static_cast<std::size_t>(i) % pieces.size()]);
    entries.back().name = std::to_string(i) + (i % 2 ? ".exe" : ".txt");
  }
  writeBoth(path, unarPath, std::move(entries));
}

void writeDeclared64GiB(const std::string& path, const std::string& unarPath, std::uint64_t size) {
  writeBoth(
      path, unarPath,
      {packed("declared.txt", textLike(size, 5), declare(std::uint64_t{64} << 30, 1), false)});
}

}  // namespace bench::rar5
