// Writes small writer-made archives into a folder, as fuzzing seeds: both
// formats with every feature the writer has, and its damaged variants.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

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
  return failures ? 1 : 0;
}
