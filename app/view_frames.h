#pragma once
// The crop and light frames of the two views, kept as fractions of the view so
// that they keep their relative place when the view is resized or a
// configuration made at another size is loaded.

#include "app/settings.h"

#include <array>

// How far the settings rectangles reach beyond the frames drawn in the views.
inline constexpr int kFrameInflation = 5;

// A frame from its fractions: horizontal ones times (client width - 5),
// vertical ones times (client height - 5), truncated toward zero. Fractions
// are stored with six decimals, so a product that falls short of a whole
// number by no more than that rounding can explain is taken as that number:
// a frame saved and loaded again in a view of the same size keeps its pixels.
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
//
// The pipeline scales every rectangle by the destination view's size, but the
// crop frame is drawn in the original view, and the two views need not be the
// same size (a window width that does not split evenly leaves one a pixel
// wider). With both sizes given, the crop rectangle is carried over into the
// destination view's pixels, so that a frame covering the whole original view
// crops to exactly the whole picture.
struct ViewPair {
    int originalWidth = 0, originalHeight = 0;
    int destinationWidth = 0, destinationHeight = 0;
};
void CopyFramesToSettings(ProcessingSettings& s, const ViewPair& views = {});

// A rectangle in the pixels of a from-sized view carried over to a to-sized
// one, each edge scaled and rounded to the nearest pixel, so that the view's
// edges land on the other view's edges. Sizes that are not positive, or equal,
// leave it as it is.
IntRect MapViewRect(const IntRect& r, int fromWidth, int fromHeight, int toWidth, int toHeight);

// A resize keeps a frame's edge that lies on the view's limit (5 pixels inside
// the old client area) on the limit of the new one, so that a frame covering
// the whole view keeps covering it; the other edges come from the fractions.
IntRect FrameAfterResize(const IntRect& frame, const IntRect& fromFractions, int oldWidth,
                         int oldHeight, int newWidth, int newHeight);

// The frames (crop, lights 1 to 3) that a configuration file holds fractions
// for: all four of the frame's fraction keys, describing a frame of positive
// width and height. Files written before a frame was ever drawn carry zeros
// for it, and such fractions place nothing.
struct StoredFrames {
    bool crop = false;
    std::array<bool, 3> light{};
};
bool FractionsDescribeFrame(float top, float left, float bottom, float right);

// After a configuration load, once the frames have been placed from their
// fractions: every frame the file holds fractions for sets its rectangle,
// whether or not it is shown (light rectangles are stored in the pixels of the
// view that saved them, which another view or pellorin-cli does not share);
// the other frames behave as in CopyFramesToSettings.
void CopyLoadedFramesToSettings(ProcessingSettings& s, const StoredFrames& stored,
                                const ViewPair& views = {});

// Frames nobody has dragged yet: 5 pixels inside a client area of the given
// size, so that the rectangles they set cover exactly the view, with their
// fractions.
void SetDefaultFrames(ProcessingSettings& s, int clientWidth, int clientHeight);
