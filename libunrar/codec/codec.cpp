#include "codec/codec.h"

#include "core/format_values.h"

namespace unrar {
namespace {

using Factory = std::unique_ptr<Decoder> (*)(bool solidArchive);

Factory factoryFor(Format format, const Entry& e) {
  switch (algorithmOf(format, e)) {
    case 15:
      return makeRar15Decoder;
    case 20:
      return makeRar20Decoder;
    case 29:
      return makeRar29Decoder;
    case 50:
      return makeRar5Decoder;
    default:
      return nullptr;
  }
}

}  // namespace

std::uint32_t algorithmOf(Format format, const Entry& e) {
  // RAR 7's algorithm (70) is RAR 5's with larger dictionaries: one decoder.
  if (format == Format::Rar5) return e.unpVer == kUnpVerRar5 || e.unpVer == kUnpVerRar7 ? 50 : 0;
  // RAR 3.6 wrote 36 for the 2.9 algorithm with large files; 26 is RAR 2.0's
  // with large files.
  switch (e.unpVer) {
    case 26:
      return 20;
    case 36:
      return 29;
    default:
      return e.unpVer;
  }
}

std::unique_ptr<Decoder> makeDecoder(Format format, const Entry& e, bool solidArchive) {
  Factory f = e.method >= 1 && e.method <= 5 ? factoryFor(format, e) : nullptr;
  return f ? f(solidArchive) : nullptr;
}

bool canDecode(Format format, const Entry& e) {
  if (e.method > 5) return false;
  if (format == Format::Rar5 && algorithmOf(format, e) != 50) return false;
  return e.method == 0 || factoryFor(format, e) != nullptr;
}

}  // namespace unrar
