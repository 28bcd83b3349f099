#include "app/mars.h"

namespace {

const std::uint32_t S[512] = {
#include "app/mars_sbox.inc"
};
const std::uint32_t* const S0 = S;
const std::uint32_t* const S1 = S + 256;

// Patterns that break up long runs of equal bits in the multiplication keys.
const std::uint32_t kFixPatterns[4] = {0xa4a8d57b, 0x5b5d193b, 0xc8a8309b, 0x73f9a978};

std::uint32_t Rotl(std::uint32_t x, unsigned n) {
  n &= 31;
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}
std::uint32_t Rotr(std::uint32_t x, unsigned n) { return Rotl(x, 32 - (n & 31)); }

unsigned Byte(std::uint32_t x, int i) { return (x >> (8 * i)) & 0xFF; }

std::uint32_t LoadWord(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void StoreWord(std::uint32_t w, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(w >> (8 * i));
}

// Bits of w that lie inside a run of at least 10 equal bits, not at either
// end of the run, and within bits 2..30.
std::uint32_t LongRunMask(std::uint32_t w) {
  std::uint32_t mask = 0;
  int start = 0;
  while (start < 32) {
    const unsigned bit = (w >> start) & 1;
    int end = start;
    while (end + 1 < 32 && ((w >> (end + 1)) & 1) == bit) ++end;
    if (end - start + 1 >= 10) {
      for (int l = start + 1; l < end; ++l) {
        if (l >= 2 && l <= 30) mask |= 1u << l;
      }
    }
    start = end + 1;
  }
  return mask;
}

struct EOut {
  std::uint32_t l, m, r;
};

EOut E(std::uint32_t in, std::uint32_t key1, std::uint32_t key2) {
  std::uint32_t m = in + key1;
  std::uint32_t r = Rotl(Rotl(in, 13) * key2, 5);
  std::uint32_t l = S[m & 0x1FF];
  m = Rotl(m, r & 31);
  l ^= r;
  r = Rotl(r, 5);
  l ^= r;
  l = Rotl(l, r & 31);
  return {l, m, r};
}

// (D0, D1, D2, D3) <- (D1, D2, D3, D0) and back.
void RotateForward(std::uint32_t d[4]) {
  const std::uint32_t t = d[0];
  d[0] = d[1];
  d[1] = d[2];
  d[2] = d[3];
  d[3] = t;
}
void RotateBack(std::uint32_t d[4]) {
  const std::uint32_t t = d[3];
  d[3] = d[2];
  d[2] = d[1];
  d[1] = d[0];
  d[0] = t;
}

}  // namespace

bool mars::set_key(const std::uint8_t* key, std::size_t bits) {
  keyed_ = false;
  if (key == nullptr || bits < 128 || bits > 448 || bits % 32 != 0) return false;
  const unsigned n = static_cast<unsigned>(bits / 32);
  std::uint32_t t[15] = {};
  for (unsigned i = 0; i < n; ++i) t[i] = LoadWord(key + 4 * i);
  t[n] = n;
  for (unsigned j = 0; j < 4; ++j) {
    for (unsigned i = 0; i < 15; ++i) {
      t[i] ^= Rotl(t[(i + 8) % 15] ^ t[(i + 13) % 15], 3) ^ (4 * i + j);
    }
    for (int stir = 0; stir < 4; ++stir) {
      for (unsigned i = 0; i < 15; ++i) t[i] = Rotl(t[i] + S[t[(i + 14) % 15] & 0x1FF], 9);
    }
    for (unsigned i = 0; i < 10; ++i) k_[10 * j + i] = t[(4 * i) % 15];
  }
  for (int i = 5; i <= 35; i += 2) {
    const std::uint32_t w = k_[i] | 3;
    const std::uint32_t pattern = Rotl(kFixPatterns[k_[i] & 3], k_[i - 1] & 31);
    k_[i] = w ^ (pattern & LongRunMask(w));
  }
  keyed_ = true;
  return true;
}

bool mars::encrypt(const std::uint8_t* source, std::uint8_t* destination) const {
  if (!keyed_) return false;
  std::uint32_t d[4];
  for (int i = 0; i < 4; ++i) d[i] = LoadWord(source + 4 * i) + k_[i];

  for (int i = 0; i < 8; ++i) {  // forward mixing
    d[1] ^= S0[Byte(d[0], 0)];
    d[1] += S1[Byte(d[0], 1)];
    d[2] += S0[Byte(d[0], 2)];
    d[3] ^= S1[Byte(d[0], 3)];
    d[0] = Rotr(d[0], 24);
    if (i == 0 || i == 4) d[0] += d[3];
    if (i == 1 || i == 5) d[0] += d[1];
    RotateForward(d);
  }
  for (int i = 0; i < 16; ++i) {  // keyed core
    const EOut e = E(d[0], k_[2 * i + 4], k_[2 * i + 5]);
    d[0] = Rotl(d[0], 13);
    d[2] += e.m;
    if (i < 8) {
      d[1] += e.l;
      d[3] ^= e.r;
    } else {
      d[3] += e.l;
      d[1] ^= e.r;
    }
    RotateForward(d);
  }
  for (int i = 0; i < 8; ++i) {  // backward mixing
    if (i == 2 || i == 6) d[0] -= d[3];
    if (i == 3 || i == 7) d[0] -= d[1];
    d[1] ^= S1[Byte(d[0], 0)];
    d[2] -= S0[Byte(d[0], 3)];
    d[3] -= S1[Byte(d[0], 2)];
    d[3] ^= S0[Byte(d[0], 1)];
    d[0] = Rotl(d[0], 24);
    RotateForward(d);
  }
  for (int i = 0; i < 4; ++i) StoreWord(d[i] - k_[36 + i], destination + 4 * i);
  return true;
}

// Each phase of encrypt undone, in reverse order.
bool mars::decrypt(const std::uint8_t* source, std::uint8_t* destination) const {
  if (!keyed_) return false;
  std::uint32_t d[4];
  for (int i = 0; i < 4; ++i) d[i] = LoadWord(source + 4 * i) + k_[36 + i];

  for (int i = 7; i >= 0; --i) {
    RotateBack(d);
    d[0] = Rotr(d[0], 24);
    d[3] ^= S0[Byte(d[0], 1)];
    d[3] += S1[Byte(d[0], 2)];
    d[2] += S0[Byte(d[0], 3)];
    d[1] ^= S1[Byte(d[0], 0)];
    if (i == 2 || i == 6) d[0] += d[3];
    if (i == 3 || i == 7) d[0] += d[1];
  }
  for (int i = 15; i >= 0; --i) {
    RotateBack(d);
    d[0] = Rotr(d[0], 13);
    const EOut e = E(d[0], k_[2 * i + 4], k_[2 * i + 5]);
    d[2] -= e.m;
    if (i < 8) {
      d[1] -= e.l;
      d[3] ^= e.r;
    } else {
      d[3] -= e.l;
      d[1] ^= e.r;
    }
  }
  for (int i = 7; i >= 0; --i) {
    RotateBack(d);
    if (i == 0 || i == 4) d[0] -= d[3];
    if (i == 1 || i == 5) d[0] -= d[1];
    d[0] = Rotl(d[0], 24);
    d[3] ^= S1[Byte(d[0], 3)];
    d[2] -= S0[Byte(d[0], 2)];
    d[1] -= S1[Byte(d[0], 1)];
    d[1] ^= S0[Byte(d[0], 0)];
  }
  for (int i = 0; i < 4; ++i) StoreWord(d[i] - k_[i], destination + 4 * i);
  return true;
}
