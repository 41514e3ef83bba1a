#pragma once
// Swapping the first and third byte of every pixel turns FreeImage's
// blue-green-red rows into our red-green-blue pixels and back. These copies run
// over every pixel of every load and save that goes through FreeImage, so they
// have vector forms for every instruction set (Google Highway, chosen at run
// time).

#include <cstddef>
#include <cstdint>
#include <vector>

// srcStep is 3 or 4 bytes per source pixel (the fourth byte is dropped); dst
// gets 3 bytes per pixel. src and dst do not overlap.
void SwapRedBlue(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep);
// The plain form, which the vector forms must match.
void SwapRedBlueScalar(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep);

// For tests: the instruction sets this build has forms for and this processor
// runs (the best first, the baseline last), and pinning the dispatch to one of
// them (0 lifts the pin).
std::vector<int64_t> SwapRedBlueTargets();
void PinSwapRedBlueTarget(int64_t target);
