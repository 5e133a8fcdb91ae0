#include "codec/ppmd_h_model.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

namespace unrar::ppmd {

namespace {

constexpr std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                          0x64A1, 0x5ABC, 0x6632, 0x6051};

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Below this the order-0 context and its 256 states do not fit in the units area.
constexpr std::size_t kMinSize = 1u << 11;

// A free block while the free lists are being glued: stamp 0 marks it free
// (a used block starts with a context's symbol count or a state's symbol and
// nonzero frequency, never with 0), nu is its length in units, next/prev link
// it into one list of every free block. Kept as raw bytes: the same memory is
// a context or states at other times.
constexpr unsigned kStampAt = 0, kNuAt = 2, kNextAt = 4, kPrevAt = 8;

std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void store32(std::uint8_t* p, std::uint32_t v) {
  std::memcpy(p, &v, 4);
}
std::uint16_t load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void store16(std::uint8_t* p, unsigned v) {
  auto w = static_cast<std::uint16_t>(v);
  std::memcpy(p, &w, 2);
}

std::uint8_t* bytes(void* p) {
  return static_cast<std::uint8_t*>(p);
}

}  // namespace

Model::Model() {
  // Block sizes in units: 1-4 by one, then by two, three, and four up to 128.
  unsigned k = 0;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    do {
      units2Indx_[k++] = static_cast<std::uint8_t>(i);
    } while (--step != 0);
    indx2Units_[i] = static_cast<std::uint8_t>(k);
  }

  ns2bsIndx_[0] = 0;
  ns2bsIndx_[1] = 2;
  std::memset(ns2bsIndx_ + 2, 4, 9);
  std::memset(ns2bsIndx_ + 11, 6, 256 - 11);

  // Context sizes grouped for the SEE table: classes widen as contexts grow.
  unsigned i = 0;
  for (; i < 3; ++i) ns2Indx_[i] = static_cast<std::uint8_t>(i);
  for (unsigned m = i, left = 1; i < 256; ++i) {
    ns2Indx_[i] = static_cast<std::uint8_t>(m);
    if (--left == 0) left = ++m - 2;
  }

  std::memset(hb2Flag_, 0, 0x40);
  std::memset(hb2Flag_ + 0x40, 8, 0x100 - 0x40);
}

Model::~Model() = default;

void Model::FreeArena::operator()(std::uint8_t* p) const {
  std::free(p);
}

bool Model::allocate(std::size_t size) {
  if (size < kMinSize || size > (std::size_t{1} << 31)) return false;
  // The units end on a 4-byte boundary; one more unit past the end holds the
  // sentinel that stops the gluing of free blocks.
  const unsigned alignOffset = 4 - static_cast<unsigned>(size & 3);
  const std::size_t total = alignOffset + size + kUnitSize;
  if (total > capacity_) {
    // One arena serves the sizes of all later models too: it grows only when
    // a larger size comes, so blocks that alternate between sizes do not
    // map memory afresh each time.
    arena_.reset();
    capacity_ = 0;
    size_ = 0;
    base_ = nullptr;
    void* p = nullptr;
    if (total >= kHugePage) {
      // The model jumps all over its memory: on huge pages most of those jumps
      // stop missing the TLB. Aligned so every whole 2 MiB stretch can be one.
      if (posix_memalign(&p, kHugePage, total) != 0) return false;
#ifdef MADV_HUGEPAGE
      madvise(p, total & ~(kHugePage - 1), MADV_HUGEPAGE);
#endif
    } else {
      p = std::malloc(total);
      if (p == nullptr) return false;
    }
    arena_.reset(static_cast<std::uint8_t*>(p));
    base_ = arena_.get();
    capacity_ = total;
  }
  // The model uses exactly `size` bytes of the arena. What lies before the
  // text reads as "no statistics" wherever offset 0 (no context) is looked at.
  alignOffset_ = alignOffset;
  std::memset(base_, 0, alignOffset_);
  size_ = size;
  return true;
}

void Model::start(unsigned maxOrder) {
  maxOrder_ = maxOrder;
  std::memset(charMask_, 0, sizeof charMask_);
  escCount_ = 0;
  restartModel();
  restarts_ = 0;
  dummySee_.shift = kPeriodBits;
  dummySee_.summ = 0;
  dummySee_.count = 64;
}

void Model::restartModel() {
  ++restarts_;
  std::memset(freeList_, 0, sizeof freeList_);
  text_ = base_ + alignOffset_;
  hiUnit_ = text_ + size_;
  loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glueCount_ = 0;

  orderFall = maxOrder_;
  runLength = initRL = -static_cast<std::int32_t>(std::min(maxOrder_, 12u)) - 1;
  prevSuccess = 0;

  hiUnit_ -= kUnitSize;
  minContext = maxContext = reinterpret_cast<Context*>(hiUnit_);
  minContext->suffix = 0;
  minContext->numStats = 256;
  minContext->summFreq = 256 + 1;
  auto* s = reinterpret_cast<State*>(loUnit_);
  foundState = s;
  loUnit_ += 256 / 2 * kUnitSize;
  minContext->stats = ref(s);
  for (unsigned i = 0; i < 256; ++i) {
    s[i].symbol = static_cast<std::uint8_t>(i);
    s[i].freq = 1;
    s[i].setSuccessor(0);
  }

  for (unsigned i = 0; i < 128; ++i)
    for (unsigned k = 0; k < 8; ++k) {
      auto v = static_cast<std::uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
      for (unsigned m = 0; m < 64; m += 8) binSumm_[i][k + m] = v;
    }

  for (unsigned i = 0; i < 25; ++i)
    for (unsigned k = 0; k < 16; ++k) {
      See& see = see_[i][k];
      see.shift = kPeriodBits - 4;
      see.summ = static_cast<std::uint16_t>((5 * i + 10) << see.shift);
      see.count = 4;
    }
}

// --- Suballocator ---

void Model::insertNode(void* p, unsigned index) {
  store32(bytes(p), freeList_[index]);
  freeList_[index] = ref(p);
}

void* Model::removeNode(unsigned index) {
  std::uint8_t* node = base_ + freeList_[index];
  freeList_[index] = load32(node);
  return node;
}

void Model::splitBlock(void* p, unsigned oldIndex, unsigned newIndex) {
  unsigned nu = indx2Units_[oldIndex] - indx2Units_[newIndex];
  std::uint8_t* rest = bytes(p) + indx2Units_[newIndex] * kUnitSize;
  unsigned i = unitsToIndex(nu);
  if (indx2Units_[i] != nu) {
    unsigned k = indx2Units_[--i];
    insertNode(rest + k * kUnitSize, nu - k - 1);
  }
  insertNode(rest, i);
}

void Model::glueFreeBlocks() {
  // The sentinel node sits just past the arena (the extra unit allocated).
  const std::uint32_t head = alignOffset_ + static_cast<std::uint32_t>(size_);
  std::uint32_t n = head;
  glueCount_ = 255;

  // One doubly-linked list of all free blocks, each stamped with its length.
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    const unsigned nu = indx2Units_[i];
    std::uint32_t next = freeList_[i];
    freeList_[i] = 0;
    while (next != 0) {
      std::uint8_t* node = base_ + next;
      std::uint32_t following = load32(node);
      store32(node + kNextAt, n);
      store32(base_ + n + kPrevAt, next);
      n = next;
      store16(node + kStampAt, 0);
      store16(node + kNuAt, nu);
      next = following;
    }
  }
  store16(base_ + head + kStampAt, 1);
  store32(base_ + head + kNextAt, n);
  store32(base_ + n + kPrevAt, head);
  if (loUnit_ != hiUnit_) store16(loUnit_ + kStampAt, 1);

  // Merge each free block with the free blocks that directly follow it.
  while (n != head) {
    std::uint8_t* node = base_ + n;
    std::uint32_t nu = load16(node + kNuAt);
    for (;;) {
      std::uint8_t* node2 = node + nu * kUnitSize;
      if (load16(node2 + kStampAt) != 0) break;
      nu += load16(node2 + kNuAt);
      if (nu >= 0x10000) break;
      std::uint32_t prev2 = load32(node2 + kPrevAt);
      std::uint32_t next2 = load32(node2 + kNextAt);
      store32(base_ + prev2 + kNextAt, next2);
      store32(base_ + next2 + kPrevAt, prev2);
      store16(node + kNuAt, nu);
    }
    n = load32(node + kNextAt);
  }

  // Back into the free lists, cut into the sizes the lists hold.
  for (n = load32(base_ + head + kNextAt); n != head;) {
    std::uint8_t* node = base_ + n;
    std::uint32_t next = load32(node + kNextAt);
    unsigned nu = load16(node + kNuAt);
    for (; nu > 128; nu -= 128, node += 128 * kUnitSize) insertNode(node, kNumIndexes - 1);
    unsigned i = unitsToIndex(nu);
    if (indx2Units_[i] != nu) {
      unsigned k = indx2Units_[--i];
      insertNode(node + k * kUnitSize, nu - k - 1);
    }
    insertNode(node, i);
    n = next;
  }
}

void* Model::allocUnitsRare(unsigned index) {
  if (glueCount_ == 0) {
    glueFreeBlocks();
    if (freeList_[index] != 0) return removeNode(index);
  }
  unsigned i = index;
  do {
    if (++i == kNumIndexes) {
      // Nothing free of that size or larger: take the units from the top of
      // the text area while the text leaves room.
      std::size_t numBytes = indx2Units_[index] * kUnitSize;
      glueCount_--;
      if (static_cast<std::size_t>(unitsStart_ - text_) > numBytes) {
        unitsStart_ -= numBytes;
        return unitsStart_;
      }
      return nullptr;
    }
  } while (freeList_[i] == 0);
  void* block = removeNode(i);
  splitBlock(block, i, index);
  return block;
}

void* Model::allocUnits(unsigned index) {
  if (freeList_[index] != 0) return removeNode(index);
  std::size_t numBytes = indx2Units_[index] * kUnitSize;
  if (numBytes <= static_cast<std::size_t>(hiUnit_ - loUnit_)) {
    void* block = loUnit_;
    loUnit_ += numBytes;
    return block;
  }
  return allocUnitsRare(index);
}

Context* Model::allocContext() {
  if (hiUnit_ != loUnit_) {
    hiUnit_ -= kUnitSize;
    return reinterpret_cast<Context*>(hiUnit_);
  }
  if (freeList_[0] != 0) return static_cast<Context*>(removeNode(0));
  return static_cast<Context*>(allocUnitsRare(0));
}

void* Model::shrinkUnits(void* oldPtr, unsigned oldNu, unsigned newNu) {
  unsigned i0 = unitsToIndex(oldNu);
  unsigned i1 = unitsToIndex(newNu);
  if (i0 == i1) return oldPtr;
  if (freeList_[i1] != 0) {
    void* block = removeNode(i1);
    std::memcpy(block, oldPtr, newNu * kUnitSize);
    insertNode(oldPtr, i0);
    return block;
  }
  splitBlock(oldPtr, i0, i1);
  return oldPtr;
}

// --- Model updates ---

Context* Model::createSuccessors(bool skip) {
  Context* c = minContext;
  const std::uint32_t upBranch = foundState->successor();
  const std::uint8_t symbol = foundState->symbol;
  State* ps[kMaxOrder];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = foundState;

  while (c->suffix != 0) {
    c = context(c->suffix);
    State* s;
    if (c->numStats != 1) {
      s = stats(c);
      State* end = s + c->numStats;
      while (s != end && s->symbol != symbol) ++s;
      if (s == end) return nullptr;
    } else {
      s = c->oneState();
    }
    std::uint32_t successor = s->successor();
    if (successor != upBranch) {
      c = context(successor);
      if (numPs == 0) return c;
      break;
    }
    if (numPs == kMaxOrder) return nullptr;
    ps[numPs++] = s;
  }

  // The new contexts predict the symbol that followed this one in the text.
  State up;
  up.symbol = base_[upBranch];
  up.setSuccessor(upBranch + 1);
  if (c->numStats == 1) {
    up.freq = c->oneState()->freq;
  } else {
    State* s = stats(c);
    State* end = s + c->numStats;
    while (s != end && s->symbol != up.symbol) ++s;
    if (s == end) return nullptr;
    unsigned cf = s->freq - 1u;
    unsigned s0 = c->summFreq - c->numStats - cf;
    unsigned f = 2 * cf <= s0 ? (5 * cf > s0) : (2 * cf + 3 * s0 - 1) / (2 * std::max(s0, 1u));
    up.freq = static_cast<std::uint8_t>(1 + f);
  }

  do {
    Context* c1 = allocContext();
    if (c1 == nullptr) return nullptr;
    c1->numStats = 1;
    *c1->oneState() = up;
    c1->suffix = ref(c);
    ps[--numPs]->setSuccessor(ref(c1));
    c = c1;
  } while (numPs != 0);
  return c;
}

void Model::updateModel() {
  State* fs = foundState;
  const std::uint8_t symbol = fs->symbol;
  std::uint32_t fSuccessor = fs->successor();

  // The shorter context learns the symbol too, a little.
  if (fs->freq < kMaxFreq / 4 && minContext->suffix != 0) {
    Context* c = context(minContext->suffix);
    if (c->numStats == 1) {
      State* s = c->oneState();
      if (s->freq < 32) s->freq++;
    } else {
      State* s = stats(c);
      State* end = s + c->numStats;
      if (s->symbol != symbol) {
        do {
          ++s;
        } while (s != end && s->symbol != symbol);
        if (s != end && s[0].freq >= s[-1].freq) {
          swapStates(s, s - 1);
          --s;
        }
      }
      if (s != end && s->freq < kMaxFreq - 9) {
        s->freq = static_cast<std::uint8_t>(s->freq + 2);
        c->summFreq = static_cast<std::uint16_t>(c->summFreq + 2);
      }
    }
  }

  if (orderFall == 0) {
    minContext = maxContext = createSuccessors(true);
    if (minContext == nullptr) {
      restartModel();
      return;
    }
    foundState->setSuccessor(ref(minContext));
    return;
  }

  *text_++ = symbol;
  std::uint32_t successor = ref(text_);
  if (text_ >= unitsStart_) {
    restartModel();
    return;
  }

  if (fSuccessor != 0) {
    // A successor inside the text is a context not yet made.
    if (fSuccessor <= successor) {
      Context* cs = createSuccessors(false);
      if (cs == nullptr) {
        restartModel();
        return;
      }
      fSuccessor = ref(cs);
    }
    if (--orderFall == 0) {
      successor = fSuccessor;
      text_ -= (maxContext != minContext);
    }
  } else {
    foundState->setSuccessor(successor);
    fSuccessor = ref(minContext);
  }

  const unsigned ns = minContext->numStats;
  const unsigned s0 = minContext->summFreq - ns - (foundState->freq - 1u);

  // Every longer context that missed the symbol gets it as a new state.
  for (Context* c = maxContext; c != minContext; c = context(c->suffix)) {
    const unsigned ns1 = c->numStats;
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        // The states fill their units exactly: move them to one unit more.
        const unsigned oldNu = ns1 >> 1;
        const unsigned i = unitsToIndex(oldNu);
        if (i != unitsToIndex(oldNu + 1)) {
          void* block = allocUnits(i + 1);
          if (block == nullptr) {
            restartModel();
            return;
          }
          State* old = stats(c);
          std::memcpy(block, old, oldNu * kUnitSize);
          insertNode(old, i);
          c->stats = ref(block);
        }
      }
      c->summFreq = static_cast<std::uint16_t>(c->summFreq + (2 * ns1 < ns) +
                                               2 * ((4 * ns1 <= ns) & (c->summFreq <= 8 * ns1)));
    } else {
      auto* s = static_cast<State*>(allocUnits(0));
      if (s == nullptr) {
        restartModel();
        return;
      }
      *s = *c->oneState();
      c->stats = ref(s);
      if (s->freq < kMaxFreq / 4 - 1)
        s->freq = static_cast<std::uint8_t>(s->freq << 1);
      else
        s->freq = kMaxFreq - 4;
      c->summFreq = static_cast<std::uint16_t>(s->freq + initEsc + (ns > 3));
    }

    std::uint32_t cf = 2u * foundState->freq * (c->summFreq + 6u);
    const std::uint32_t sf = s0 + c->summFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->summFreq = static_cast<std::uint16_t>(c->summFreq + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      c->summFreq = static_cast<std::uint16_t>(c->summFreq + cf);
    }
    State* s = stats(c) + ns1;
    s->setSuccessor(successor);
    s->symbol = symbol;
    s->freq = static_cast<std::uint8_t>(cf);
    c->numStats = static_cast<std::uint16_t>(ns1 + 1);

    if (c->suffix == 0) {
      // The chain from the longest context must reach the current one.
      restartModel();
      return;
    }
  }
  maxContext = minContext = context(fSuccessor);
}

void Model::rescale() {
  Context* mc = minContext;
  State* const first = stats(mc);
  State* s = foundState;
  {
    State t = *s;
    for (; s != first; --s) s[0] = s[-1];
    *s = t;
  }
  unsigned escFreq = mc->summFreq - s->freq;
  s->freq = static_cast<std::uint8_t>(s->freq + 4);
  const unsigned adder = orderFall != 0;
  s->freq = static_cast<std::uint8_t>((s->freq + adder) >> 1);
  unsigned sumFreq = s->freq;

  unsigned i = mc->numStats - 1u;
  do {
    escFreq -= (++s)->freq;
    s->freq = static_cast<std::uint8_t>((s->freq + adder) >> 1);
    sumFreq += s->freq;
    if (s[0].freq > s[-1].freq) {
      State* s1 = s;
      State t = *s1;
      do {
        s1[0] = s1[-1];
      } while (--s1 != first && t.freq > s1[-1].freq);
      *s1 = t;
    }
  } while (--i != 0);

  if (s->freq == 0) {
    // States that fell to zero leave the context.
    const unsigned numStats = mc->numStats;
    i = 0;
    do {
      i++;
    } while ((--s)->freq == 0);
    escFreq += i;
    mc->numStats = static_cast<std::uint16_t>(mc->numStats - i);
    if (mc->numStats == 1) {
      State t = *first;
      do {
        t.freq = static_cast<std::uint8_t>(t.freq - (t.freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      insertNode(first, unitsToIndex((numStats + 1) >> 1));
      foundState = mc->oneState();
      *foundState = t;
      return;
    }
    const unsigned n0 = (numStats + 1) >> 1;
    const unsigned n1 = (mc->numStats + 1u) >> 1;
    if (n0 != n1) mc->stats = ref(shrinkUnits(first, n0, n1));
  }
  mc->summFreq = static_cast<std::uint16_t>(sumFreq + escFreq - (escFreq >> 1));
  foundState = stats(mc);
}

}  // namespace unrar::ppmd
