#pragma once
// The switch between the vector forms of the pixel loops (vector_kernels.h,
// compiled for every instruction set by Google Highway) and their plain forms.
// Both give identical results; tests run every vector target this processor
// has and the plain forms, and compare.

#include <cstdint>
#include <string>
#include <vector>

namespace imageops {

// On by default; off sends every operation to its plain loops.
void UseVectorKernels(bool on);
bool VectorKernelsOn();

// The vector targets (Highway's target bits) that this build holds and this
// processor runs, the best first; the last is the portable baseline.
std::vector<int64_t> VectorTargets();
std::string VectorTargetName(int64_t target);
// The target the vector kernels run on now.
int64_t VectorTargetInUse();
// Limits the kernels to `target` (one of VectorTargets()); 0 lifts the limit,
// so that they run on the best target again. For tests, between operations.
void PinVectorTarget(int64_t target);

} // namespace imageops
