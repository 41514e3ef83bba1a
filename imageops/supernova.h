#pragma once
// Super Nova: a bright star of randomly long, randomly tinted spokes over a
// blue-green-red-alpha buffer, centred on a chosen point. The spokes come
// from the C runtime rand(), which the effect reseeds.

#include "app/settings.h"

#include <array>
#include <cstdint>
#include <vector>

struct NovaSpokes {
    std::vector<double> length;              // 0..1, the mean of six draws
    std::vector<std::array<float, 3>> color; // components for bytes 0, 1, 2
};

// Draws the spokes from the generator's current state: six draws for the
// length, then one for the hue step, per spoke. The hue wanders from spoke to
// spoke by up to randomhue / 2 degrees.
NovaSpokes DrawNovaSpokes(const SuperNovaValues& v);

// The star with the generator reseeded by `seed` first.
void SuperNovaSeeded(const uint8_t* src, uint8_t* dst, int width, int height,
                     const SuperNovaValues& v, unsigned seed);
// The effect: reseeds with the current time in seconds, so that two runs in
// the same second paint the same star.
void SuperNova(const uint8_t* src, uint8_t* dst, int width, int height, const SuperNovaValues& v);

// The displayed colour (red, green, blue) that the colour chooser returns,
// written as both settings that describe it: the packed colour (red in the
// low byte) and the components for bytes 0, 1, 2 (blue, green, red).
void SetNovaColor(ProcessingSettings& s, uint8_t red, uint8_t green, uint8_t blue);
