// The byte loops thirty-two bytes at a time. Built with AVX2 and POPCNT
// enabled; they run only where the processor and the system support both.
#include "Kernels.h"

#include "CyrillicTallyBlocks.h"
#include "TVorUTF8DetectBlocks.h"
#include "avx2/Ops.h"

const Kernels kAvx2Kernels = {"avx2", WalkVectors<Avx2>, TallyBlocks<Avx2>};
