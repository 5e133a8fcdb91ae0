// The PPMd variant H context model: the statistics both sides of a range coder
// keep in step. The decoder (ppmd_h.cpp) and the tests' encoder drive it
// through the same steps, so the model itself knows nothing of the coder.
//
// Everything lives in one arena of exactly the size a stream declares:
// contexts and symbol statistics in 12-byte units allocated from the top, the
// text of recent symbols growing from the bottom. References inside the arena
// are 32-bit offsets from its start; offset 0 is never an object and stands
// for "none".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace unrar::ppmd {

inline constexpr unsigned kUnitSize = 12;
inline constexpr unsigned kNumIndexes = 38;
inline constexpr unsigned kMaxOrder = 64;
inline constexpr unsigned kMaxFreq = 124;
inline constexpr unsigned kIntBits = 7;
inline constexpr unsigned kPeriodBits = 7;
inline constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);

// One symbol of a context: 6 bytes, byte-aligned, so arrays of them pack into
// units and the single state of a binary context fits inside its context.
struct State {
  std::uint8_t symbol;
  std::uint8_t freq;
  std::uint8_t successorBytes[4];

  std::uint32_t successor() const {
    std::uint32_t v;
    std::memcpy(&v, successorBytes, 4);
    return v;
  }
  void setSuccessor(std::uint32_t v) { std::memcpy(successorBytes, &v, 4); }
};
static_assert(sizeof(State) == 6);

// A context with one symbol keeps that symbol's state where summFreq and
// stats would be (oneState()); with more, stats refers to an array of states.
struct Context {
  std::uint16_t numStats;
  std::uint16_t summFreq;
  std::uint32_t stats;
  std::uint32_t suffix;

  State* oneState() { return reinterpret_cast<State*>(reinterpret_cast<std::uint8_t*>(this) + 2); }
};
static_assert(sizeof(Context) == kUnitSize);

// Secondary escape estimation: an adaptive escape frequency per class of
// context.
struct See {
  std::uint16_t summ;
  std::uint8_t shift;
  std::uint8_t count;

  unsigned takeMean() {
    unsigned r = static_cast<unsigned>(summ >> shift);
    summ = static_cast<std::uint16_t>(summ - r);
    return r + (r == 0);
  }
  void hit() {
    if (shift < kPeriodBits && --count == 0) {
      summ = static_cast<std::uint16_t>(summ << 1);
      count = static_cast<std::uint8_t>(3 << shift++);
    }
  }
};

class Model {
 public:
  Model();
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Makes room for a model of exactly `size` bytes, in the memory of earlier
  // models where that is large enough. False when the memory cannot be had
  // or is too small to hold even the order-0 context.
  bool allocate(std::size_t size);
  bool allocated() const { return arena_ != nullptr; }
  // Starts the model afresh with contexts up to maxOrder (2..kMaxOrder).
  void start(unsigned maxOrder);
  // How often the model has started over since start() because its memory
  // ran out.
  std::uint64_t restarts() const { return restarts_; }

  // --- The coding steps. A coder looks at minContext and then takes one of
  // these paths, in this order, for every symbol. ---

  // Binary context: the probability (of kBinScale) that its one symbol comes.
  std::uint16_t* binProb() {
    State* rs = minContext->oneState();
    hiBitsFlag = hb2Flag_[foundState->symbol];
    // A binary context always has a suffix in a sound model; the masks keep
    // a damaged one inside the tables (offset 0 reads as zero statistics).
    unsigned suffixStats = context(minContext->suffix)->numStats;
    return &binSumm_[(rs->freq - 1u) & 127u]
                    [prevSuccess + ns2bsIndx_[(suffixStats - 1u) & 255u] + hiBitsFlag +
                     2u * hb2Flag_[rs->symbol] +
                     ((static_cast<std::uint32_t>(runLength) >> 26) & 0x20u)];
  }
  void binHit(std::uint16_t* prob) {
    *prob = static_cast<std::uint16_t>(*prob + (1u << kIntBits) - mean(*prob));
    foundState = minContext->oneState();
    if (foundState->freq < 128) foundState->freq++;
    prevSuccess = 1;
    runLength++;
    nextContext();
  }
  void binMiss(std::uint16_t* prob) {
    *prob = static_cast<std::uint16_t>(*prob - mean(*prob));
    initEsc = kExpEscape[*prob >> 10];
    beginMasking();
    mask(minContext->oneState()->symbol);
    prevSuccess = 0;
  }

  // Context of several symbols: the first state came.
  void firstHit(State* s) {
    foundState = s;
    prevSuccess = 2u * s->freq > minContext->summFreq;
    runLength += static_cast<std::int32_t>(prevSuccess);
    minContext->summFreq = static_cast<std::uint16_t>(minContext->summFreq + 4);
    s->freq = static_cast<std::uint8_t>(s->freq + 4);
    if (s->freq > kMaxFreq) rescale();
    nextContext();
  }
  // A later state than the first came.
  void laterHit(State* s) {
    prevSuccess = 0;
    s->freq = static_cast<std::uint8_t>(s->freq + 4);
    minContext->summFreq = static_cast<std::uint16_t>(minContext->summFreq + 4);
    if (s[0].freq > s[-1].freq) {
      swapStates(s, s - 1);
      --s;
      foundState = s;
      if (s->freq > kMaxFreq) rescale();
    } else {
      foundState = s;
    }
    nextContext();
  }
  // None of its states came: all of them are masked for the shorter contexts.
  void firstMiss() {
    hiBitsFlag = hb2Flag_[foundState->symbol];
    beginMasking();
    State* s = stats(minContext);
    for (unsigned i = minContext->numStats; i != 0; --i, ++s) mask(s->symbol);
    prevSuccess = 0;
  }

  // After a miss: moves to the nearest shorter context that has a symbol not
  // yet masked. False at the order-0 context (nothing left to escape to).
  bool escape(unsigned& numMasked) {
    numMasked = minContext->numStats;
    Context* c = minContext;
    do {
      orderFall++;
      if (c->suffix == 0) return false;
      c = context(c->suffix);
    } while (c->numStats == numMasked);
    minContext = c;
    return true;
  }
  // The escape frequency for the current context with numMasked symbols
  // masked, and the SEE cell that estimated it.
  See* escapeFreq(unsigned numMasked, unsigned& escFreq) {
    Context* mc = minContext;
    if (mc->numStats == 256) {
      escFreq = 1;
      return &dummySee_;
    }
    unsigned nonMasked = mc->numStats - numMasked;
    unsigned suffixStats = context(mc->suffix)->numStats;
    See* see = &see_[ns2Indx_[(nonMasked - 1u) & 255u]][(nonMasked < suffixStats - mc->numStats) +
                                                        2u * (mc->summFreq < 11u * mc->numStats) +
                                                        4u * (numMasked > nonMasked) + hiBitsFlag];
    escFreq = see->takeMean();
    return see;
  }
  // A state not masked came after escapes.
  void maskedHit(See* see, State* s) {
    see->hit();
    foundState = s;
    minContext->summFreq = static_cast<std::uint16_t>(minContext->summFreq + 4);
    s->freq = static_cast<std::uint8_t>(s->freq + 4);
    if (s->freq > kMaxFreq) rescale();
    runLength = initRL;
    updateModel();
  }
  // Escaped again: the context's statistics learn the total it was coded with.
  static void maskedMiss(See* see, unsigned freqSum) {
    see->summ = static_cast<std::uint16_t>(see->summ + freqSum);
  }

  bool masked(unsigned symbol) const { return charMask_[symbol] == escCount_; }
  void mask(unsigned symbol) { charMask_[symbol] = escCount_; }

  Context* context(std::uint32_t ref) const { return reinterpret_cast<Context*>(base_ + ref); }
  State* stats(const Context* c) const { return reinterpret_cast<State*>(base_ + c->stats); }

  Context* minContext = nullptr;
  Context* maxContext = nullptr;
  State* foundState = nullptr;

 private:
  static constexpr std::uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

  static unsigned mean(unsigned prob) { return (prob + (1u << (kPeriodBits - 2))) >> kPeriodBits; }
  static void swapStates(State* a, State* b) {
    State t = *a;
    *a = *b;
    *b = t;
  }
  // A new generation of masks; the marks of the old one no longer match.
  void beginMasking() {
    if (++escCount_ == 0) {
      std::memset(charMask_, 0, sizeof charMask_);
      escCount_ = 1;
    }
  }
  void nextContext() {
    Context* c = context(foundState->successor());
    if (orderFall == 0 && reinterpret_cast<std::uint8_t*>(c) > text_)
      minContext = maxContext = c;
    else
      updateModel();
  }

  std::uint32_t ref(const void* p) const {
    return static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(p) - base_);
  }

  void restartModel();
  void updateModel();
  Context* createSuccessors(bool skip);
  void rescale();

  // The suballocator.
  void insertNode(void* p, unsigned index);
  void* removeNode(unsigned index);
  void splitBlock(void* p, unsigned oldIndex, unsigned newIndex);
  void glueFreeBlocks();
  void* allocUnitsRare(unsigned index);
  void* allocUnits(unsigned index);
  Context* allocContext();
  void* shrinkUnits(void* oldPtr, unsigned oldNu, unsigned newNu);
  unsigned unitsToIndex(unsigned nu) const { return units2Indx_[nu - 1]; }

 public:
  unsigned orderFall = 0;
  unsigned initEsc = 0;
  unsigned prevSuccess = 0;
  unsigned hiBitsFlag = 0;
  std::int32_t runLength = 0;
  std::int32_t initRL = 0;

 private:
  unsigned maxOrder_ = 0;
  std::uint64_t restarts_ = 0;
  struct FreeArena {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t, FreeArena> arena_;
  std::size_t capacity_ = 0;  // bytes of the arena
  std::size_t size_ = 0;      // bytes of them the model uses, after alignOffset_
  std::uint8_t* base_ = nullptr;
  unsigned alignOffset_ = 0;
  std::uint8_t* text_ = nullptr;
  std::uint8_t* unitsStart_ = nullptr;
  std::uint8_t* loUnit_ = nullptr;
  std::uint8_t* hiUnit_ = nullptr;
  unsigned glueCount_ = 0;
  std::uint32_t freeList_[kNumIndexes] = {};

  std::uint8_t escCount_ = 0;
  std::uint8_t charMask_[256] = {};

  See dummySee_{};
  See see_[25][16]{};
  std::uint16_t binSumm_[128][64]{};

  std::uint8_t indx2Units_[kNumIndexes]{};
  std::uint8_t units2Indx_[128]{};
  std::uint8_t ns2Indx_[256]{};
  std::uint8_t ns2bsIndx_[256]{};
  std::uint8_t hb2Flag_[256]{};
};

}  // namespace unrar::ppmd
