// The byte loops sixteen bytes at a time. Built with SSE2 enabled; the 32-bit
// build runs them only where the processor has SSE2.
#include "Kernels.h"

#include "CyrillicTallyBlocks.h"
#include "TVorUTF8DetectBlocks.h"
#include "sse2/Ops.h"

const Kernels kSse2Kernels = {"sse2", WalkVectors<Sse2>, TallyBlocks<Sse2>};
