// The one header production files include for the test hooks.
// The hooks are the record of the layer's system calls that the bench's
// floor replays (CallTrace.h) and the fault switches the tests and fuzzers
// arm (FaultInjection.h). Both are compiled in only where CHARSIFT_TEST_HOOKS
// is defined, in a library made by charsift_core_library(... TEST_HOOKS); in
// everything that ships, each hook is a constant no-op.
#pragma once

#include "CallTrace.h"
#include "FaultInjection.h"
