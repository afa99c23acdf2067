// The vector operations the byte loops use, written once for the x86
// instruction sets, whose byte intrinsics differ only in their names. An
// instruction set's Ops.h defines CHARSIFT_MM(op), its intrinsic for op,
// and CHARSIFT_MM_WHOLE(op), its whole-vector intrinsic for op, then
// includes this. Internal linkage on purpose: each set's kernels are built
// for that set alone, and no other file may be handed their code.
#include <cstddef>
#include <cstdint>

namespace {

struct VectorOps {
  using Vec = decltype(CHARSIFT_MM_WHOLE(setzero)());
  static constexpr std::size_t kWidth = sizeof(Vec);
  static Vec Load(const std::uint8_t* p) {
    return CHARSIFT_MM_WHOLE(loadu)(reinterpret_cast<const Vec*>(p));
  }
  static Vec Zero() { return CHARSIFT_MM_WHOLE(setzero)(); }
  static Vec Splat(std::uint8_t b) { return CHARSIFT_MM(set1_epi8)(static_cast<char>(b)); }
  static Vec Add(Vec a, Vec b) { return CHARSIFT_MM(add_epi8)(a, b); }
  static Vec Sub(Vec a, Vec b) { return CHARSIFT_MM(sub_epi8)(a, b); }
  // Unsigned, stopping at zero.
  static Vec SubSat(Vec a, std::uint8_t b) { return CHARSIFT_MM(subs_epu8)(a, Splat(b)); }
  static Vec And(Vec a, Vec b) { return CHARSIFT_MM_WHOLE(and)(a, b); }
  static Vec Or(Vec a, Vec b) { return CHARSIFT_MM_WHOLE(or)(a, b); }
  static Vec Xor(Vec a, Vec b) { return CHARSIFT_MM_WHOLE(xor)(a, b); }
  // Signed bytes: 0xC0 is -64.
  static Vec Greater(Vec a, Vec b) { return CHARSIFT_MM(cmpgt_epi8)(a, b); }
  static Vec Equal(Vec a, Vec b) { return CHARSIFT_MM(cmpeq_epi8)(a, b); }
  // Unsigned bytes, lane by lane.
  static Vec MinU(Vec a, Vec b) { return CHARSIFT_MM(min_epu8)(a, b); }
  static Vec MaxU(Vec a, Vec b) { return CHARSIFT_MM(max_epu8)(a, b); }
  // The same value, computed here: keeps the compiler from regrouping a
  // running OR over a block's vectors, which would hold every vector of the
  // block in registers at once, more than there are.
  static Vec Settle(Vec a) {
    asm("" : "+x"(a));
    return a;
  }
  // The high bit of each byte, byte i as bit i.
  static unsigned Mask(Vec a) { return static_cast<unsigned>(CHARSIFT_MM(movemask_epi8)(a)); }
};

} // namespace

#undef CHARSIFT_MM
#undef CHARSIFT_MM_WHOLE
