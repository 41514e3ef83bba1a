#pragma once
// "Advanced Emboss" and "Red Eye Removal" on blue-green-red-alpha working
// buffers (4 bytes a pixel, rows packed, top row first). Each reads src and
// writes every pixel of dst; src and dst must not overlap. Neither draws random
// numbers, so both split the rows over several threads with the same result.

#include "app/settings.h"

#include <cstdint>

struct EmbossParams {
    float azimuth = 0.0f;   // degrees, direction the light comes from in the picture plane
    float elevation = 0.0f; // degrees above the picture plane
    float depth = 1.0f;     // relief height, used truncated to 1..1530
    int emboss = 0;         // 0 "BumpMap": the picture shaded; 1 "Emboss": grey relief
};

// Every pixel is shaded from the 3 x 3 window around it. The outermost rows
// and columns have no neighbour on one side: they are shaded from the window
// of the row (or column) next to them with the missing line replaced by that
// row (or column), and take their colour from it, so the relief runs on to the
// edge without a seam. A picture less than 3 pixels across (or high) has no
// slope in that direction.
void ApplyAdvancedEmboss(const uint8_t* src, uint8_t* dst, int width, int height,
                         const EmbossParams& p);

// Lowers the red of pixels whose (scaled) red exceeds both green and the
// scaled blue by 100 - 2 * threshold; threshold 0 touches only strongly red
// pixels, 100 almost all.
void ApplyRedEyeRemoval(const uint8_t* src, uint8_t* dst, int width, int height, int threshold);

// The effect-list entries: parameters from the settings record.
void AdvancedEmbossEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                          const ProcessingSettings& s);
void RedEyeRemovalEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                         const ProcessingSettings& s);
