/* zembra.h: the animated GIF library.
 *
 * The library holds one animation in memory, created when the library is
 * loaded, and exposes it frame by frame. Every function works on that one
 * animation; calls must come from one thread at a time.
 *
 * Booleans are 32-bit: -1 for true, 0 for false. Frame indexes are 0-based;
 * a function given an index outside 0 .. frame count - 1 does nothing and
 * returns the value named beside it. No error or exception crosses this
 * boundary: Load and Save report failure as false.
 *
 * A colour is 32 bits: red in the low byte, then green, then blue.
 * ZEMBRA_NO_COLOR means "not transparent" for a frame.
 */
#ifndef ZEMBRA_ZEMBRA_H
#define ZEMBRA_ZEMBRA_H

#include <stdint.h>

#if defined(__GNUC__)
#define ZEMBRA_API __attribute__((visibility("default")))
#else
#define ZEMBRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZEMBRA_TRUE (-1)
#define ZEMBRA_FALSE 0
#define ZEMBRA_NO_COLOR 0x1FFFFFFFu

/* Frame bitmaps and palettes handed out by Zembra. */
typedef struct ZPalette {
    int32_t count;
    uint8_t rgbx[256][4]; /* red, green, blue, 0 */
} ZPalette;

typedef struct ZBitmap {
    int32_t width, height;
    int32_t bitsPerPixel; /* 1, 4, 8, 24 or 32 */
    int32_t stride;       /* bytes per row, a multiple of 4 */
    uint8_t* bits;        /* rows bottom first */
    ZPalette palette;     /* for 1, 4 and 8 bits per pixel */
} ZBitmap;

/* A new bitmap with zeroed pixels. Palette bitmaps get the default palette of
 * their depth: black and white for 1 bit, the 16 standard colours for 4 bits,
 * a grey ramp for 8 bits. Null for a bad depth, a negative size or when memory
 * runs out. */
ZEMBRA_API ZBitmap* ZCreateBitmap(int32_t width, int32_t height, int32_t bitsPerPixel);
/* Only for bitmaps never handed to Zembra. */
ZEMBRA_API void ZDeleteBitmap(ZBitmap* bitmap);

/* Frees the animation and starts an empty one that loops 30000 times. */
ZEMBRA_API void Reset(void);
/* Replaces the animation with the file's; frame 0 is decoded at once. */
ZEMBRA_API int32_t Load(const char* path);
/* Writes the animation. The target is replaced only when the whole file has
 * been written; on failure an existing file is left as it was. */
ZEMBRA_API int32_t Save(const char* path);

ZEMBRA_API int32_t GetFrameCount(void);
/* Appends empty frames or removes frames from the end; a negative count does
 * nothing. */
ZEMBRA_API void SetFrameCount(int32_t count);

/* Delays are in hundredths of a second. Out of range: 0. */
ZEMBRA_API int32_t GetFrameTimeDelay(int32_t index);
ZEMBRA_API void SetFrameTimeDelay(int32_t index, int32_t delay);

/* Decodes the frame if needed and reports its bitmap: size, the bottom-up
 * pixel block (owned by the library, valid until the frame changes) and its
 * bits per pixel (1, 4 or 8 for palette frames). False for a bad index (outputs
 * untouched) or when the frame cannot be decoded or has no pixels. */
ZEMBRA_API int32_t GetFrameData(int32_t index, int32_t* width, int32_t* height, uint8_t** bits,
                                int32_t* bitsPerPixel);
/* Replaces the frame by a bitmap made of height rows of the given pixels,
 * bottom row first, each row (bitsPerPixel * width + 31) / 32 * 4 bytes long.
 * bitsPerPixel 1, 4 or 8 gives a palette bitmap with the default palette of that
 * depth (24 and 32 are taken as direct colour; other values keep the depth the
 * frame's bitmap has, 32 when it has none, and copy no more than a row holds).
 * The frame keeps its transparent colour; origin, delay, disposal and
 * interlacing return to their defaults. A negative size, or no pixels for a
 * non-empty size, changes nothing. */
ZEMBRA_API void SetFrameData(int32_t index, int32_t width, int32_t height, const uint8_t* bits,
                             int32_t bitsPerPixel);

/* The frame's bitmap, decoded if needed; owned by the library. Out of range: null. */
ZEMBRA_API ZBitmap* GetFrameBitmap(int32_t index);
/* The frame takes ownership of the bitmap (made by ZCreateBitmap). A frame that
 * has no encoded data yet is encoded from it on save. */
ZEMBRA_API void SetFrameBitmap(int32_t index, ZBitmap* bitmap);
/* The palette of the frame's decoded bitmap; owned by the library. */
ZEMBRA_API ZPalette* GetFramePalette(int32_t index);

ZEMBRA_API void GetOrigin(int32_t index, int32_t* left, int32_t* top);
ZEMBRA_API void SetOrigin(int32_t index, int32_t left, int32_t top);

/* Out of range: 0xFFFFFF. */
ZEMBRA_API uint32_t GetFrameTransparentColor(int32_t index);
ZEMBRA_API void SetFrameTransparentColor(int32_t index, uint32_t color);

/* True exactly when the frame is restored to the background after display. */
ZEMBRA_API int32_t GetFrameDisposalMethod(int32_t index);
/* Non-zero: restore to background; zero: leave in place. */
ZEMBRA_API void SetFrameDisposalMethod(int32_t index, int32_t restoreToBackground);

#ifdef __cplusplus
}
#endif

#endif /* ZEMBRA_ZEMBRA_H */
