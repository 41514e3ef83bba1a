#pragma once
// The crop and light frames of the two views, kept as fractions of the view so
// that they keep their relative place when the view is resized or a
// configuration made at another size is loaded.

#include "app/settings.h"

// How far the settings rectangles reach beyond the frames drawn in the views.
inline constexpr int kFrameInflation = 5;

// A frame from its fractions: horizontal ones times (client width - 5),
// vertical ones times (client height - 5), truncated toward zero.
IntRect FrameFromFractions(float top, float left, float bottom, float right, int clientWidth,
                           int clientHeight);
// The fractions of a frame (top and bottom over client height - 5, left and
// right over client width - 5).
void FractionsFromFrame(const IntRect& frame, int clientWidth, int clientHeight, float& top,
                        float& left, float& bottom, float& right);

IntRect InflateRect(const IntRect& r, int by);

// Recomputes every frame from its fractions, as the views do after a
// configuration load or a resize.
void FramesFromFractions(ProcessingSettings& s, int clientWidth, int clientHeight);
// Recomputes every fraction from its frame, as the views do after a drag.
void FractionsFromFrames(ProcessingSettings& s, int clientWidth, int clientHeight);
// Copies the frames that are switched on into the settings: the crop rectangle
// becomes the crop frame inflated by 5 pixels, light rectangle n light frame n
// inflated likewise. Frames that are off are not shown, so their (possibly
// never set) position must not move a rectangle the user did not draw.
void CopyFramesToSettings(ProcessingSettings& s);
