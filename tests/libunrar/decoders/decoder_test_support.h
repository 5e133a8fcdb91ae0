// What the decoder tests share: an entry's packed data from memory, a sink
// that keeps what it is given, and unar's extraction as the reference.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec.h"
#include "peer_tools.h"
#include "rar_writer.h"
#include "unrar_test_support.h"

namespace decodertest {

// Words and numbers: short and long matches, repeated distances.
inline std::string text(unsigned seed, std::size_t size) {
  static const char* const words[] = {"the ",   "window ", "archive ", "of ",     "solid ",
                                      "table ", "length ", "and ",     "stream ", "code "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    if (rng() % 7 == 0) s += "id=" + std::to_string(rng() % 1000) + "; ";
    s += words[rng() % 10];
    if (rng() % 13 == 0) s += "\n";
  }
  s.resize(size);
  return s;
}

inline std::string noise(unsigned seed, std::size_t size) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Reads from memory, as an entry's packed data.
class MemoryStream final : public unrar::InStream {
 public:
  explicit MemoryStream(std::string data) : data_(std::move(data)) {}
  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override {
    got = std::min(n, data_.size() - pos_);
    std::memcpy(buf, data_.data() + pos_, got);
    pos_ += got;
    return 0;
  }
  std::uint64_t remaining() const override { return data_.size() - pos_; }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

struct StringSink final : unrar::Sink {
  std::string out;
  int put(const std::uint8_t* p, std::size_t n) override {
    out.append(reinterpret_cast<const char*>(p), n);
    return 0;
  }
};

// unar extracts every entry of `archive` into `dir` with the bytes written.
inline void expectUnarExtracts(const std::string& archive, const unrartest::TempDir& tmp,
                               const std::vector<rarwriter::Entry>& entries) {
  if (!peers::haveTool("unar")) GTEST_SKIP() << "unar is not installed";
  const peers::CommandResult r = peers::unarExtract(archive, tmp.file("unar"));
  EXPECT_EQ(r.status, 0) << r.output;
  for (const auto& e : entries) {
    const std::string path = tmp.file("unar/" + e.name);
    EXPECT_TRUE(unrartest::exists(path) && unrartest::readFile(path) == e.data)
        << e.name << " differs in unar's output";
  }
}

// Our library and unar must both give back every entry's data.
inline void checkBothDecoders(const std::vector<rarwriter::Entry>& entries, bool solid) {
  unrartest::TempDir tmp;
  rarwriter::Options opt;
  opt.format = rarwriter::Format::Rar4;
  opt.solidFlag = solid;
  const std::string archive = tmp.file("a.rar");
  rarwriter::write(archive, entries, opt);
  const auto ours = unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file("ours"));
  ASSERT_EQ(ours.status.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string path = tmp.file("ours/" + entries[i].name);
    EXPECT_EQ(ours.status[i], ERAR_SUCCESS) << entries[i].name;
    EXPECT_TRUE(unrartest::exists(path) && unrartest::readFile(path) == entries[i].data)
        << entries[i].name << " differs in our output";
  }
  expectUnarExtracts(archive, tmp, entries);
}

}  // namespace decodertest
