#include "ppmd_h_encoder.h"

#include <stdexcept>

#include "codec/ppmd_h_model.h"

namespace ppmdenc {

namespace {

constexpr std::uint32_t kTop = 1u << 24;
constexpr std::uint32_t kBottom = 1u << 15;

// The 5-bit order field of the block header for an order, or -1.
int orderField(unsigned order) {
  if (order >= 2 && order <= 16) return static_cast<int>(order - 1);
  if (order > 16 && order <= 64 && (order - 16) % 3 == 0)
    return static_cast<int>(16 + (order - 16) / 3 - 1);
  return -1;
}

}  // namespace

Encoder::Encoder() : model_(std::make_unique<unrar::ppmd::Model>()) {}
Encoder::~Encoder() = default;

void Encoder::countRestarts() {
  restarts_ += model_->restarts() - seen_;
  seen_ = model_->restarts();
}

void Encoder::encode(std::uint32_t start, std::uint32_t size, std::uint32_t total) {
  range_ /= total;
  low_ += start * range_;
  range_ *= size;
  for (;;) {
    if ((low_ ^ (low_ + range_)) >= kTop) {
      if (range_ >= kBottom) break;
      range_ = (0u - low_) & (kBottom - 1);
    }
    out_.push_back(static_cast<char>(low_ >> 24));
    range_ <<= 8;
    low_ <<= 8;
  }
}

void Encoder::flush() {
  for (int i = 0; i < 4; ++i) {
    out_.push_back(static_cast<char>(low_ >> 24));
    low_ <<= 8;
  }
}

void Encoder::startBlock(const Block& b) {
  std::uint8_t flags = 0x80;
  if (b.params) {
    const int field = orderField(b.params->order);
    if (field < 0 || b.params->memoryMiB < 1 || b.params->memoryMiB > 256)
      throw std::invalid_argument("PPMd parameters the block header cannot state");
    flags |= static_cast<std::uint8_t>(0x20 | field);
    if (b.params->escape >= 0) flags |= 0x40;
  } else if (!model_->allocated()) {
    throw std::invalid_argument("the first PPMd block must start a model");
  }
  out_.push_back(static_cast<char>(flags));
  if (b.params) {
    out_.push_back(static_cast<char>(b.params->memoryMiB - 1));
    if (b.params->escape >= 0) {
      out_.push_back(static_cast<char>(b.params->escape));
      escape_ = b.params->escape;
    }
    countRestarts();
    if (!model_->allocate(std::size_t{b.params->memoryMiB} << 20)) throw std::bad_alloc();
    model_->start(b.params->order);
    seen_ = 0;
  }
  low_ = 0;
  range_ = 0xFFFFFFFFu;
}

// Mirrors the decoder's steps symbol for symbol; only the direction of the
// range coder differs.
void Encoder::encodeSymbol(unsigned symbol) {
  using unrar::ppmd::Context;
  using unrar::ppmd::State;
  unrar::ppmd::Model& m = *model_;
  Context* mc = m.minContext;
  if (mc->numStats != 1) {
    State* s = m.stats(mc);
    const unsigned summ = mc->summFreq;
    if (s->symbol == symbol) {
      encode(0, s->freq, summ);
      m.firstHit(s);
      return;
    }
    std::uint32_t lo = s->freq;
    for (unsigned i = mc->numStats - 1u; i != 0; --i) {
      ++s;
      if (s->symbol == symbol) {
        encode(lo, s->freq, summ);
        m.laterHit(s);
        return;
      }
      lo += s->freq;
    }
    encode(lo, summ - lo, summ);
    m.firstMiss();
  } else {
    std::uint16_t* prob = m.binProb();
    const std::uint32_t p = *prob;
    if (mc->oneState()->symbol == symbol) {
      encode(0, p, unrar::ppmd::kBinScale);
      m.binHit(prob);
      return;
    }
    encode(p, unrar::ppmd::kBinScale - p, unrar::ppmd::kBinScale);
    m.binMiss(prob);
  }
  for (;;) {
    unsigned numMasked;
    if (!m.escape(numMasked)) throw std::logic_error("symbol missing from the order-0 context");
    mc = m.minContext;
    const unsigned wanted = mc->numStats - numMasked;
    State* candidates[256];
    unsigned n = 0;
    std::uint32_t hi = 0, lo = 0;
    State* found = nullptr;
    State* s = m.stats(mc);
    for (State* end = s + mc->numStats; s != end && n != wanted; ++s) {
      if (m.masked(s->symbol)) continue;
      if (s->symbol == symbol) {
        found = s;
        lo = hi;
      }
      hi += s->freq;
      candidates[n++] = s;
    }
    unsigned escFreq;
    unrar::ppmd::See* see = m.escapeFreq(numMasked, escFreq);
    const std::uint32_t total = escFreq + hi;
    if (found != nullptr) {
      encode(lo, found->freq, total);
      m.maskedHit(see, found);
      return;
    }
    encode(hi, total - hi, total);
    unrar::ppmd::Model::maskedMiss(see, total);
    for (unsigned k = 0; k < n; ++k) m.mask(candidates[k]->symbol);
  }
}

std::string Encoder::pack(const std::string& data, const std::vector<Block>& blocks, bool thenLz) {
  out_.clear();
  const std::vector<Block> plan = blocks.empty() ? std::vector<Block>{Block{0, Params{}}} : blocks;
  std::size_t pos = 0;
  for (std::size_t bi = 0; bi < plan.size(); ++bi) {
    const Block& b = plan[bi];
    const bool last = bi + 1 == plan.size();
    const std::size_t end = last || b.size == 0 ? data.size() : std::min(data.size(), pos + b.size);
    startBlock(b);
    while (pos < end) {
      const auto c = static_cast<unsigned char>(data[pos]);
      std::size_t run = 0;
      if (pos > 0)
        while (run < 259 && pos + run < end && data[pos + run] == data[pos - 1]) ++run;
      if (run >= 4) {
        encodeSymbol(static_cast<unsigned>(escape_));
        encodeSymbol(5);
        encodeSymbol(static_cast<unsigned>(run - 4));
        pos += run;
        continue;
      }
      encodeSymbol(c);
      if (c == escape_) encodeSymbol(1);
      ++pos;
    }
    encodeSymbol(static_cast<unsigned>(escape_));
    encodeSymbol(last && !thenLz ? 2 : 0);
    flush();
    countRestarts();
    if (last) break;
  }
  return out_;
}

}  // namespace ppmdenc
