// Writes small writer-made archives into a folder, as fuzzing seeds: both
// formats with every feature the writer has, and its damaged variants.
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "ppmd_h_encoder.h"
#include "rar15_encoder.h"
#include "rar20_encoder.h"
#include "rar29_encoder.h"
#include "rar5_encoder.h"
#include "rar_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: libunrar_fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  using rarwriter::Entry;
  using rarwriter::Options;
  std::vector<Entry> entries(6);
  entries[0].name = "a.txt";
  entries[0].data = "hello, seed";
  entries[1].name = "sub";
  entries[1].directory = true;
  entries[2].name = "sub/\xE8\xA1\xA8 name.bin";
  entries[2].data = std::string(3000, 'x');
  entries[2].host = rarwriter::HostOS::Unix;
  entries[2].attributes = 0100644;
  entries[3].name = "link";
  entries[3].symlinkTarget = "a.txt";
  entries[3].host = rarwriter::HostOS::Unix;
  entries[4].name = "empty";
  entries[5].name = "secret";
  entries[5].data = "flagged";
  entries[5].encryptedFlagOnly = true;
  int n = 0;
  int failures = 0;
  auto emit = [&](const std::vector<Entry>& list, const Options& o) {
    std::string path = dir + "/seed" + std::to_string(n++) + (o.volumeSize ? ".part1.rar" : ".rar");
    try {
      rarwriter::write(path, list, o);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
      ++failures;
    }
  };
  for (auto format : {rarwriter::Format::Rar4, rarwriter::Format::Rar5}) {
    std::vector<Options> variants(9);
    for (auto& v : variants) v.format = format;
    variants[1].comment = "a comment";
    variants[2].comment = "old style";
    variants[2].oldStyleComment = format == rarwriter::Format::Rar4;
    variants[3].volumeSize = 1500;
    variants[4].damage = rarwriter::Damage::BadHeaderCrc;
    variants[5].damage = rarwriter::Damage::BadDataCrc;
    variants[6].damage = rarwriter::Damage::Truncated;
    variants[7].solidFlag = true;
    variants[7].lockFlag = true;
    variants[8].blake2 = format == rarwriter::Format::Rar5;
    for (const Options& o : variants) {
      std::vector<Entry> list = entries;
      if (format == rarwriter::Format::Rar5) {
        Entry hard;
        hard.name = "hard";
        hard.hardlinkTarget = "a.txt";
        list.push_back(hard);
      }
      emit(list, o);
    }
  }
  // Encrypted seeds, with the password the fuzz target answers, so the
  // decryption path is fuzzed: encrypted data, encrypted headers (with a
  // comment) and an encrypted volume set, in both formats.
  for (auto format : {rarwriter::Format::Rar4, rarwriter::Format::Rar5}) {
    std::vector<Entry> list(entries.begin(), entries.begin() + 5);
    list[0].password = "password";
    list[2].password = "password";
    std::vector<Options> variants(3);
    for (auto& v : variants) v.format = format;
    variants[1].headerPassword = "password";
    variants[1].comment = "secret comment";
    variants[2].headerPassword = "password";
    variants[2].volumeSize = 1500;
    for (const Options& o : variants) {
      emit(list, o);
    }
  }
  // RAR 4 compressed seeds, so the decoder and the handing over of a solid
  // stream from entry to entry are fuzzed: separate streams, one solid stream,
  // and a solid stream encrypted file by file.
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<Entry> list(entries.begin(), entries.begin() + 5);
    for (Entry& e : list) {
      e.compressed = true;
      if (variant == 2) e.password = "password";
    }
    Options o;
    o.format = rarwriter::Format::Rar4;
    o.solidFlag = variant > 0;
    emit(list, o);
  }
  // A seed per decoder, each a solid pair so that the state carried from
  // entry to entry is fuzzed too: RAR 1.5, RAR 2.0 in LZ and audio mode, RAR
  // 2.9 LZ with a table change, and RAR 2.9 PPMd.
  std::string text;
  for (int i = 0; i < 300; ++i) text += "seed line " + std::to_string(i * 7 % 31) + "\n";
  std::string audio;
  for (int i = 0; i < 4000; ++i) audio += static_cast<char>((i * 5 + (i / 7) % 13) & 0xFF);
  auto pair = [&](const std::string& first, const std::string& second,
                  const std::function<std::string(const std::string&, int)>& pack,
                  std::uint8_t unpVer) {
    std::vector<Entry> list(2);
    const std::string* data[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
      list[static_cast<std::size_t>(i)].name = "m" + std::to_string(i);
      list[static_cast<std::size_t>(i)].data = *data[i];
      list[static_cast<std::size_t>(i)].prepacked =
          Entry::Prepacked{pack(*data[i], i), unpVer, 0x33, 0, {}};
    }
    Options o;
    o.format = rarwriter::Format::Rar4;
    o.solidFlag = true;
    emit(list, o);
  };
  {
    rar15enc::Encoder enc;
    pair(
        text, text.substr(100), [&](const std::string& d, int) { return enc.pack(d); }, 15);
  }
  {
    rar20enc::Encoder enc;
    pair(
        text, audio,
        [&](const std::string& d, int i) {
          rar20enc::Block b;
          if (i == 1) {
            b.mode = rar20enc::Mode::Audio;
            b.channels = 2;
          }
          return enc.pack(d, {b});
        },
        20);
  }
  {
    rar29enc::Encoder enc;
    pair(
        text, text + audio,
        [&](const std::string& d, int) {
          rar29enc::Block half;
          half.size = d.size() / 2;
          return enc.pack(d, {half, rar29enc::Block{}});
        },
        29);
  }
  {
    ppmdenc::Encoder enc;
    pair(
        text, text,
        [&](const std::string& d, int i) {
          ppmdenc::Block b;
          if (i == 0) b.params = ppmdenc::Params{1, 8, -1};
          return enc.pack(d, {b});
        },
        29);
  }
  // RAR 5: a solid pair through the writer's own compression, one entry with
  // every filter and kept tables, and a RAR 7 entry (80 distance symbols, a
  // dictionary between powers of two).
  {
    Options o;
    o.format = rarwriter::Format::Rar5;
    o.solidFlag = true;
    o.compression = rarwriter::Rar5Compression{};
    o.compression->dictionary = 128 << 10;
    std::vector<Entry> list(2);
    list[0].name = "t";
    list[0].data = text;
    list[1].name = "u";
    list[1].data = text.substr(50) + audio;
    emit(list, o);
  }
  for (int version = 0; version < 2; ++version) {
    rar5enc::Settings settings;
    settings.dictionary = version ? (1u << 20) + (16u << 15) : 128u << 10;
    settings.wideDistances = version == 1;
    settings.longLevelCodes = true;
    std::string data = text.substr(0, 3000) + audio.substr(0, 3000);
    for (int i = 0; i < 500; ++i)
      data += std::string("\xE8\x10\x00\x00\x00\x01\x02\x03\x04\xEB", 10);
    using rar5enc::FilterType;
    const std::vector<rar5enc::Filter> filters = {{3000, 3000, FilterType::Delta, 2, 100},
                                                  {6000, 2000, FilterType::E8, 1, 0},
                                                  {8000, 1000, FilterType::E8E9, 1, 0},
                                                  {9000, 1000, FilterType::Arm, 1, 0}};
    Entry e;
    e.name = "f";
    e.data = data;
    e.prepacked = Entry::Prepacked{
        rar5enc::Encoder(settings).pack(data, {{2500, true}, {2500, false}, {0, true}}, filters),
        0,
        0,
        0,
        {}};
    e.prepacked->rar5.dictionary = settings.dictionary;
    e.prepacked->rar5.version = static_cast<std::uint8_t>(version);
    Options o;
    o.format = rarwriter::Format::Rar5;
    emit({e}, o);
  }
  return failures ? 1 : 0;
}
