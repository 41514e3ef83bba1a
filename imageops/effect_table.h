#pragma once
// The effect table: one row per effect of the effect list, in identifier order
// (the identifier is the row index). It drives the pipeline's effect loop, the
// Select Effect dialog and the Edit Effect command. An effect whose function is
// not there yet is listed by name but cannot be inserted or applied.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <cstdint>
#include <span>

enum class EffectBuffer {
    Pixels24, // works in place on the image's red-green-blue pixels
    Bgra32,   // reads a blue-green-red-alpha source, writes a destination
};

// An effect that cannot have the memory it works with throws std::bad_alloc
// (as the standard containers it uses do) and leaves the image as it was or
// partly done.
using EffectInPlaceFn = void (*)(BMP_File& image, const ProcessingSettings& s);
using EffectBgraFn = void (*)(const uint8_t* src, uint8_t* dst, int width, int height,
                              const ProcessingSettings& s);

struct EffectRow {
    int id;
    const char* name;
    EffectBuffer buffer;
    EffectInPlaceFn inPlace; // for Pixels24
    EffectBgraFn bgra;       // for Bgra32
    const char* dialog;      // caption of the parameter dialog, or nullptr
    bool Available() const {
        return buffer == EffectBuffer::Pixels24 ? inPlace != nullptr : bgra != nullptr;
    }
};

inline constexpr int kEffectCount = 34;

std::span<const EffectRow> EffectTable();
// The row of an identifier, or nullptr outside 0..33.
const EffectRow* FindEffect(int id);

// Applies one effect to the image the way the pipeline does: in place, or
// through a source and a destination buffer (alpha 255, destination starting as
// a copy of the source). Does nothing for an unavailable effect. Returns false
// when the effect or its buffers could not have their memory.
bool ApplyEffect(const EffectRow& row, BMP_File& image, const ProcessingSettings& s);
