#include "ppmd_h.h"

namespace unrar {

struct PpmdH::Model {};

PpmdH::PpmdH() = default;
PpmdH::~PpmdH() = default;

bool PpmdH::restart(std::size_t memBytes, unsigned maxOrder) {
  (void)maxOrder;
  model_.reset();
  if (memBytes == 0 || memBytes > kMaxMemory) return false;
  return false;
}

bool PpmdH::hasModel() const {
  return model_ != nullptr;
}

void PpmdH::startDecoder(BitInput& in) {
  (void)in;
}

int PpmdH::decodeChar(BitInput& in) {
  (void)in;
  return -1;
}

}  // namespace unrar
