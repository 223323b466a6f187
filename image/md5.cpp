#include "image/md5.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "platform/coding.h"

namespace {

// The working state of the digest: the four chaining words A, B, C, D. Each
// call of md5Digest keeps its own on its stack, so digests may run at the
// same time on several threads.
struct Md5State {
  std::uint32_t a;
  std::uint32_t b;
  std::uint32_t c;
  std::uint32_t d;
};

constexpr Md5State MD5_INITIAL_STATE = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

constexpr std::int32_t MD5_BLOCK_SIZE = 64;
// The padded message ends with an 8-byte bit count, so a tail of 56 bytes or
// more spills into a second block.
constexpr std::int32_t MD5_LENGTH_OFFSET = 56;
constexpr std::size_t MD5_TAIL_SIZE = 2 * MD5_BLOCK_SIZE;

// Message word i of a block, little-endian.
inline std::uint32_t word(const std::uint8_t* block, int i) { return getLittle32(block + 4 * i); }

// Every step has the form a = b + rotl(a + f(b, c, d) + m + k, s). The chain
// that bounds the speed runs through b, the result of the step before, so
// each step first adds everything it can without b (a, the message word and
// the constant, and in the second round the half of G that needs no b), and
// takes b in as late as possible. The round functions are written in the
// forms that need the fewest operations after b arrives:
//   F(b, c, d) = d ^ (b & (c ^ d))
//   G(b, c, d) = (b & d) + (c & ~d)     the two halves never share a bit
//   H(b, c, d) = b ^ (c ^ d)
//   I(b, c, d) = c ^ (b | ~d)
// Compilers are free to regroup these sums, and some do it the wrong way
// round (adding the constant only after f), which puts one more operation on
// the chain in every step and costs about a sixth of the speed. An empty asm
// statement (GCC and Clang) turns the early sum, and in the third round
// c ^ d, into a value the compiler must compute as written before b joins.

#if defined(__GNUC__)
#define MD5_EARLY(x) __asm__("" : "+r"(x))
#else
#define MD5_EARLY(x) static_cast<void>(x)
#endif

inline std::uint32_t stepF(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t m, std::uint32_t k, int s) {
  std::uint32_t early = a + m + k;
  MD5_EARLY(early);
  return b + std::rotl(early + (d ^ (b & (c ^ d))), s);
}

inline std::uint32_t stepG(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t m, std::uint32_t k, int s) {
  std::uint32_t early = a + m + k + (c & ~d);
  MD5_EARLY(early);
  return b + std::rotl(early + (b & d), s);
}

inline std::uint32_t stepH(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t m, std::uint32_t k, int s) {
  std::uint32_t early = a + m + k;
  std::uint32_t cd = c ^ d;
  MD5_EARLY(early);
  MD5_EARLY(cd);
  return b + std::rotl(early + (b ^ cd), s);
}

inline std::uint32_t stepI(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t m, std::uint32_t k, int s) {
  std::uint32_t early = a + m + k;
  MD5_EARLY(early);
  return b + std::rotl(early + (c ^ (b | ~d)), s);
}

// The MD5 compression function over count consecutive 64-byte blocks, each
// result added into state. The state is kept in registers from block to
// block and stored after each one.
void md5Blocks(Md5State& state, const std::uint8_t* blocks, std::size_t count) {
  std::uint32_t a = state.a;
  std::uint32_t b = state.b;
  std::uint32_t c = state.c;
  std::uint32_t d = state.d;
  for (; count > 0; --count, blocks += MD5_BLOCK_SIZE) {
    const std::uint8_t* p = blocks;
    const std::uint32_t m0 = word(p, 0), m1 = word(p, 1), m2 = word(p, 2), m3 = word(p, 3);
    const std::uint32_t m4 = word(p, 4), m5 = word(p, 5), m6 = word(p, 6), m7 = word(p, 7);
    const std::uint32_t m8 = word(p, 8), m9 = word(p, 9), m10 = word(p, 10), m11 = word(p, 11);
    const std::uint32_t m12 = word(p, 12), m13 = word(p, 13), m14 = word(p, 14), m15 = word(p, 15);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    a = stepF(a, b, c, d, m0, 0xd76aa478, 7);
    d = stepF(d, a, b, c, m1, 0xe8c7b756, 12);
    c = stepF(c, d, a, b, m2, 0x242070db, 17);
    b = stepF(b, c, d, a, m3, 0xc1bdceee, 22);
    a = stepF(a, b, c, d, m4, 0xf57c0faf, 7);
    d = stepF(d, a, b, c, m5, 0x4787c62a, 12);
    c = stepF(c, d, a, b, m6, 0xa8304613, 17);
    b = stepF(b, c, d, a, m7, 0xfd469501, 22);
    a = stepF(a, b, c, d, m8, 0x698098d8, 7);
    d = stepF(d, a, b, c, m9, 0x8b44f7af, 12);
    c = stepF(c, d, a, b, m10, 0xffff5bb1, 17);
    b = stepF(b, c, d, a, m11, 0x895cd7be, 22);
    a = stepF(a, b, c, d, m12, 0x6b901122, 7);
    d = stepF(d, a, b, c, m13, 0xfd987193, 12);
    c = stepF(c, d, a, b, m14, 0xa679438e, 17);
    b = stepF(b, c, d, a, m15, 0x49b40821, 22);

    a = stepG(a, b, c, d, m1, 0xf61e2562, 5);
    d = stepG(d, a, b, c, m6, 0xc040b340, 9);
    c = stepG(c, d, a, b, m11, 0x265e5a51, 14);
    b = stepG(b, c, d, a, m0, 0xe9b6c7aa, 20);
    a = stepG(a, b, c, d, m5, 0xd62f105d, 5);
    d = stepG(d, a, b, c, m10, 0x02441453, 9);
    c = stepG(c, d, a, b, m15, 0xd8a1e681, 14);
    b = stepG(b, c, d, a, m4, 0xe7d3fbc8, 20);
    a = stepG(a, b, c, d, m9, 0x21e1cde6, 5);
    d = stepG(d, a, b, c, m14, 0xc33707d6, 9);
    c = stepG(c, d, a, b, m3, 0xf4d50d87, 14);
    b = stepG(b, c, d, a, m8, 0x455a14ed, 20);
    a = stepG(a, b, c, d, m13, 0xa9e3e905, 5);
    d = stepG(d, a, b, c, m2, 0xfcefa3f8, 9);
    c = stepG(c, d, a, b, m7, 0x676f02d9, 14);
    b = stepG(b, c, d, a, m12, 0x8d2a4c8a, 20);

    a = stepH(a, b, c, d, m5, 0xfffa3942, 4);
    d = stepH(d, a, b, c, m8, 0x8771f681, 11);
    c = stepH(c, d, a, b, m11, 0x6d9d6122, 16);
    b = stepH(b, c, d, a, m14, 0xfde5380c, 23);
    a = stepH(a, b, c, d, m1, 0xa4beea44, 4);
    d = stepH(d, a, b, c, m4, 0x4bdecfa9, 11);
    c = stepH(c, d, a, b, m7, 0xf6bb4b60, 16);
    b = stepH(b, c, d, a, m10, 0xbebfbc70, 23);
    a = stepH(a, b, c, d, m13, 0x289b7ec6, 4);
    d = stepH(d, a, b, c, m0, 0xeaa127fa, 11);
    c = stepH(c, d, a, b, m3, 0xd4ef3085, 16);
    b = stepH(b, c, d, a, m6, 0x04881d05, 23);
    a = stepH(a, b, c, d, m9, 0xd9d4d039, 4);
    d = stepH(d, a, b, c, m12, 0xe6db99e5, 11);
    c = stepH(c, d, a, b, m15, 0x1fa27cf8, 16);
    b = stepH(b, c, d, a, m2, 0xc4ac5665, 23);

    a = stepI(a, b, c, d, m0, 0xf4292244, 6);
    d = stepI(d, a, b, c, m7, 0x432aff97, 10);
    c = stepI(c, d, a, b, m14, 0xab9423a7, 15);
    b = stepI(b, c, d, a, m5, 0xfc93a039, 21);
    a = stepI(a, b, c, d, m12, 0x655b59c3, 6);
    d = stepI(d, a, b, c, m3, 0x8f0ccc92, 10);
    c = stepI(c, d, a, b, m10, 0xffeff47d, 15);
    b = stepI(b, c, d, a, m1, 0x85845dd1, 21);
    a = stepI(a, b, c, d, m8, 0x6fa87e4f, 6);
    d = stepI(d, a, b, c, m15, 0xfe2ce6e0, 10);
    c = stepI(c, d, a, b, m6, 0xa3014314, 15);
    b = stepI(b, c, d, a, m13, 0x4e0811a1, 21);
    a = stepI(a, b, c, d, m4, 0xf7537e82, 6);
    d = stepI(d, a, b, c, m11, 0xbd3af235, 10);
    c = stepI(c, d, a, b, m2, 0x2ad7d2bb, 15);
    b = stepI(b, c, d, a, m9, 0xeb86d391, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    state = {a, b, c, d};
  }
}

}  // namespace

// The message is digested as RFC 1321 pads it: the whole 64-byte blocks are
// read where they lie in the caller's buffer; only the last (length mod 64)
// bytes are copied, into a 128-byte tail area that also takes the 0x80 byte,
// the zero fill and the 8-byte bit count, and is digested as one or two
// blocks.
std::uint8_t* md5Digest(std::uint8_t* out, const std::uint8_t* input, std::int32_t length) {
  Md5State state = MD5_INITIAL_STATE;

  const auto wholeBlocks = static_cast<std::size_t>(length / MD5_BLOCK_SIZE);
  const std::int32_t tailLength = length % MD5_BLOCK_SIZE;
  std::uint8_t tail[MD5_TAIL_SIZE] = {};
  if (tailLength > 0) {
    std::memcpy(tail, input + wholeBlocks * MD5_BLOCK_SIZE, static_cast<std::size_t>(tailLength));
  }
  tail[tailLength] = 0x80;
  const std::int32_t lengthOffset =
      tailLength < MD5_LENGTH_OFFSET ? MD5_LENGTH_OFFSET : MD5_LENGTH_OFFSET + MD5_BLOCK_SIZE;
  // The bit count as a 32-bit value: exact for every length below 2^29; the
  // upper four bytes of the field stay zero.
  putLittle32(tail + lengthOffset, static_cast<std::uint32_t>(length) * 8U);

  md5Blocks(state, input, wholeBlocks);
  md5Blocks(state, tail, lengthOffset == MD5_LENGTH_OFFSET ? 1 : 2);

  putLittle32(out, state.a);
  putLittle32(out + 4, state.b);
  putLittle32(out + 8, state.c);
  putLittle32(out + 12, state.d);
  return out;
}
