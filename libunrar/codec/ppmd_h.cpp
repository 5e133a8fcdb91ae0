#include "codec/ppmd_h.h"

#include <new>

#include "codec/ppmd_h_model.h"

namespace unrar {

PpmdH::PpmdH() = default;
PpmdH::~PpmdH() = default;

bool PpmdH::restart(std::size_t memBytes, unsigned maxOrder) {
  ready_ = false;
  if (memBytes == 0 || memBytes > kMaxMemory || maxOrder < 2 || maxOrder > ppmd::kMaxOrder)
    return false;
  if (!model_) {
    model_.reset(new (std::nothrow) ppmd::Model);
    if (!model_) return false;
  }
  if (!model_->allocate(memBytes)) {
    model_.reset();
    return false;
  }
  model_->start(maxOrder);
  ready_ = true;
  return true;
}

bool PpmdH::hasModel() const {
  return ready_;
}

void PpmdH::startDecoder(BitInput& in) {
  low_ = 0;
  code_ = 0;
  range_ = 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | in.byte();
}

int PpmdH::decodeChar(BitInput& in) {
  if (!ready_ || in.exhausted()) return fail();
  ppmd::Model& m = *model_;
  ppmd::Context* mc = m.minContext;

  if (mc->numStats != 1) {
    ppmd::State* s = m.stats(mc);
    const unsigned summ = mc->summFreq;
    range_ /= summ;
    if (range_ == 0) return fail();
    const std::uint32_t count = code_ / range_;
    std::uint32_t hi = s->freq;
    if (count < hi) {
      decode(in, 0, hi);
      const int symbol = s->symbol;
      m.firstHit(s);
      return symbol;
    }
    for (unsigned i = mc->numStats - 1u; i != 0; --i) {
      ++s;
      hi += s->freq;
      if (hi > count) {
        decode(in, hi - s->freq, s->freq);
        const int symbol = s->symbol;
        m.laterHit(s);
        return symbol;
      }
    }
    if (count >= summ) return fail();
    decode(in, hi, summ - hi);
    m.firstMiss();
  } else {
    std::uint16_t* prob = m.binProb();
    const std::uint32_t p = *prob;
    range_ >>= 14;  // the total is kBinScale; range_ stays >= 2
    if (code_ < p * range_) {
      decode(in, 0, p);
      const int symbol = mc->oneState()->symbol;
      m.binHit(prob);
      return symbol;
    }
    decode(in, p, ppmd::kBinScale - p);
    m.binMiss(prob);
  }

  // Escapes: shorter contexts, with the symbols already ruled out masked.
  ppmd::State* candidates[256];
  for (;;) {
    unsigned numMasked;
    if (!m.escape(numMasked)) return fail();
    mc = m.minContext;
    const unsigned wanted = mc->numStats - numMasked;
    unsigned n = 0;
    std::uint32_t hi = 0;
    ppmd::State* s = m.stats(mc);
    // Branch-free: whether a state is masked is as good as random.
    for (ppmd::State* end = s + mc->numStats; s != end && n != wanted; ++s) {
      const unsigned keep = !m.masked(s->symbol);
      hi += s->freq & (0u - keep);
      candidates[n] = s;
      n += keep;
    }
    unsigned escFreq;
    ppmd::See* see = m.escapeFreq(numMasked, escFreq);
    const std::uint32_t total = escFreq + hi;
    range_ /= total;
    if (range_ == 0) return fail();
    const std::uint32_t count = code_ / range_;
    if (count < hi) {
      unsigned k = 0;
      hi = candidates[0]->freq;
      while (hi <= count) hi += candidates[++k]->freq;
      s = candidates[k];
      decode(in, hi - s->freq, s->freq);
      const int symbol = s->symbol;
      m.maskedHit(see, s);
      return symbol;
    }
    if (count >= total) return fail();
    decode(in, hi, total - hi);
    ppmd::Model::maskedMiss(see, total);
    for (unsigned k = 0; k < n; ++k) m.mask(candidates[k]->symbol);
  }
}

}  // namespace unrar
