#include "catalog/sha256.h"

#include <bit>
#include <cstring>

#include "platform/coding.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TOVRIN_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t BLOCK_SIZE = 64;
// The padded message ends with a 64-bit big-endian bit count, so a tail of
// 56 bytes or more spills into a second block.
constexpr std::size_t LENGTH_OFFSET = 56;

constexpr std::uint32_t INITIAL_STATE[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The compression function over count consecutive 64-byte blocks, in
// portable code: the message schedule kept as a ring of 16 words.
void portableBlocks(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += BLOCK_SIZE) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      w[i] = getBig32(blocks + 4 * i);
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      if (t >= 16) {
        const std::uint32_t w15 = w[(t - 15) & 15];
        const std::uint32_t w2 = w[(t - 2) & 15];
        const std::uint32_t s0 = std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3);
        const std::uint32_t s1 = std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10);
        w[t & 15] += s0 + w[(t - 7) & 15] + s1;
      }
      const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
      const std::uint32_t choose = g ^ (e & (f ^ g));
      const std::uint32_t t1 = h + sum1 + choose + K[t] + w[t & 15];
      const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
      const std::uint32_t majority = (a & b) | (c & (a | b));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + sum0 + majority;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#if defined(TOVRIN_SHA_EXTENSIONS)
// The intrinsics are x86 only: this part is built there alone, and chosen
// at run time where the processor has them; the portable code is the rest.
// NOLINTBEGIN(portability-simd-intrinsics)

bool processorHasShaExtensions() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  // Leaf 7: EBX bit 29 is SHA; leaf 1: ECX bits 9 and 19 are SSSE3 and
  // SSE4.1, which the byte shuffles and blends need.
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0 || (ebx & (1U << 29)) == 0) {
    return false;
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  return (ecx & (1U << 9)) != 0 && (ecx & (1U << 19)) != 0;
}

// Four 32-bit additions, as _mm_add_epi32 (SSE2) does them, written with
// the compilers' vector types: clang-tidy 14 reports that intrinsic's calls
// without a place in the source, where no NOLINT reaches them.
inline __m128i add32(__m128i a, __m128i b) {
  using Lanes = std::uint32_t __attribute__((vector_size(16)));
  return std::bit_cast<__m128i>(std::bit_cast<Lanes>(a) + std::bit_cast<Lanes>(b));
}

// The compression function with the SHA extensions: the state is held as
// the two vectors the rounds instruction takes (ABEF and CDGH), each
// instruction does two rounds, and the message schedule is four vectors of
// four words, the next made from the four before it.
__attribute__((target("sha,sse4.1,ssse3"))) void extensionBlocks(std::uint32_t state[8],
                                                                 const std::uint8_t* blocks,
                                                                 std::size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): unaligned vector loads
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  dcba = _mm_shuffle_epi32(dcba, 0xB1);              // CDAB
  hgfe = _mm_shuffle_epi32(hgfe, 0x1B);              // EFGH
  __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);     // ABEF
  __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);  // CDGH
  for (; count > 0; --count, blocks += BLOCK_SIZE) {
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              byteSwap);
    }
    for (int group = 0; group < 16; ++group) {
      __m128i& words = w[group & 3];
      if (group >= 4) {
        // W[t..t+3] from W[t-16..t-13], W[t-15..t-12], W[t-7..t-4] and
        // W[t-2], W[t-1]; words still holds W[t-16..t-13].
        const __m128i older = _mm_sha256msg1_epu32(words, w[(group + 1) & 3]);
        const __m128i seventh = _mm_alignr_epi8(w[(group + 3) & 3], w[(group + 2) & 3], 4);
        words = _mm_sha256msg2_epu32(add32(older, seventh), w[(group + 3) & 3]);
      }
      __m128i input =
          add32(words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(K + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, input);
      input = _mm_shuffle_epi32(input, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, input);
    }
    abef = add32(abef, abefBefore);
    cdgh = add32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);  // FEBA
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);  // DCHG
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
  // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
}

// NOLINTEND(portability-simd-intrinsics)
#endif

void compress(Sha256Engine engine, std::uint32_t state[8], const std::uint8_t* blocks,
              std::size_t count) {
#if defined(TOVRIN_SHA_EXTENSIONS)
  if (engine == Sha256Engine::shaExtensions) {
    extensionBlocks(state, blocks, count);
    return;
  }
#else
  static_cast<void>(engine);
#endif
  portableBlocks(state, blocks, count);
}

}  // namespace

Sha256Engine fastestSha256Engine() {
#if defined(TOVRIN_SHA_EXTENSIONS)
  static const bool extensions = processorHasShaExtensions();
  return extensions ? Sha256Engine::shaExtensions : Sha256Engine::portable;
#else
  return Sha256Engine::portable;
#endif
}

// As for MD5 (image/md5.cpp): the whole blocks are read where they lie; the
// last (length mod 64) bytes are copied into a two-block tail that also
// takes the 0x80 byte, the zero fill and the bit count.
Sha256Digest sha256Digest(std::span<const std::uint8_t> input, Sha256Engine engine) {
  std::uint32_t state[8];
  std::memcpy(state, INITIAL_STATE, sizeof state);
  const std::size_t wholeBlocks = input.size() / BLOCK_SIZE;
  const std::size_t tailLength = input.size() % BLOCK_SIZE;
  std::uint8_t tail[2 * BLOCK_SIZE] = {};
  if (tailLength > 0) {
    std::memcpy(tail, input.data() + wholeBlocks * BLOCK_SIZE, tailLength);
  }
  tail[tailLength] = 0x80;
  const std::size_t lengthOffset =
      tailLength < LENGTH_OFFSET ? LENGTH_OFFSET : LENGTH_OFFSET + BLOCK_SIZE;
  const std::uint64_t bits = static_cast<std::uint64_t>(input.size()) * 8U;
  putBig32(tail + lengthOffset, static_cast<std::uint32_t>(bits >> 32));
  putBig32(tail + lengthOffset + 4, static_cast<std::uint32_t>(bits));

  if (wholeBlocks > 0) {
    compress(engine, state, input.data(), wholeBlocks);
  }
  compress(engine, state, tail, lengthOffset == LENGTH_OFFSET ? 1 : 2);

  Sha256Digest out{};
  for (std::size_t i = 0; i < 8; ++i) {
    putBig32(out.data() + 4 * i, state[i]);
  }
  return out;
}
