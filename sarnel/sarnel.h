/* Sarnel: noise-reduction filters on one channel of a picture held as integer
 * planes in RGB, HSV or CIE L*a*b*.
 *
 * Plain C interface: fixed-width integers, doubles, opaque handles and the
 * SR_Bitmap record. No export lets an exception or C++ object escape; a null,
 * unknown or already released handle or bitmap is refused (the call does
 * nothing, or returns null).
 */
#ifndef SARNEL_SARNEL_H
#define SARNEL_SARNEL_H

#include <stdint.h>

#if defined(SARNEL_BUILDING)
#define SR_API __attribute__((visibility("default")))
#else
#define SR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The bitmap that crosses into and out of Sarnel. */
typedef struct SR_Bitmap {
    int32_t width, height;
    int32_t stride;  /* bytes per row, at least 4 * width */
    uint8_t* pixels; /* rows top first; per pixel blue, green, red, alpha */
} SR_Bitmap;

/* A new bitmap with zeroed pixels and stride 4 * width; null for a
 * non-positive or too large size. */
SR_API SR_Bitmap* SR_CreateBitmap(int32_t width, int32_t height);
/* Releases a bitmap made by SR_CreateBitmap or returned by SR_GetBitmap;
 * null and foreign pointers are ignored. */
SR_API void SR_DeleteBitmap(SR_Bitmap* bitmap);

/* One picture as nine channel planes; created by SR_LoadBitmap. */
typedef struct SR_Image SR_Image;

/* Channel selector of every filter. */
typedef int32_t SR_FilterType;
enum {
    SR_CHANNEL_RED = 0,        /* RGB, 0..255 */
    SR_CHANNEL_GREEN = 1,      /* RGB, 0..255 */
    SR_CHANNEL_BLUE = 2,       /* RGB, 0..255 */
    SR_CHANNEL_HUE = 3,        /* HSV, degrees 0..360 */
    SR_CHANNEL_SATURATION = 4, /* HSV, percent 0..100 */
    SR_CHANNEL_VALUE = 5,      /* HSV, percent 0..100 */
    SR_CHANNEL_L = 6,          /* L*a*b*, 0..100 */
    SR_CHANNEL_A = 7,          /* L*a*b*, -128..127 */
    SR_CHANNEL_B = 8           /* L*a*b*, -128..127 */
};

/* Colour spaces of SR_ConvertSRB. */
enum { SR_MODE_RGB = 0, SR_MODE_HSV = 1, SR_MODE_LAB = 2 };

/* Both do nothing; they are one entry point under two names. */
SR_API void SR_InitMath(void);
SR_API void SR_TerminateMath(void);

/* Creates a handle in RGB mode from a 4-byte-per-pixel bitmap; null when the
 * bitmap is invalid or memory runs out. */
SR_API SR_Image* SR_LoadBitmap(const SR_Bitmap* bitmap);
/* Renders the current planes into a new bitmap owned by the caller (release it
 * with SR_DeleteBitmap). The alpha bytes are those of the loaded bitmap. */
SR_API SR_Bitmap* SR_GetBitmap(SR_Image* image);
/* Releases the handle; it is invalid afterwards. */
SR_API void SR_UnloadBitmap(SR_Image* image);
/* Converts the planes to mode 0 RGB, 1 HSV or 2 L*a*b* and clamps the planes
 * of that space to their channel ranges; other modes do nothing. */
SR_API void SR_ConvertSRB(SR_Image* image, int32_t mode);

/* Spatial filters: aperture width and height first. */
SR_API void SR_NormalFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height);
SR_API void SR_NormalGeomFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                int32_t height);
SR_API void SR_NormalGarmonicFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                    int32_t height);
SR_API void SR_NormalContrGarmonicFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                         int32_t height, double order);
SR_API void SR_MinFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height);
SR_API void SR_MedianFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height);
SR_API void SR_MaxFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height);
SR_API void SR_MidPointFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                              int32_t height);
SR_API void SR_TrimmedMeanFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                 int32_t height, int32_t truncation);
SR_API void SR_AdaptiveLocalFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                   int32_t height, double noiseVariance);
SR_API void SR_AdaptiveMedianFilter(SR_Image* image, SR_FilterType channel, int32_t minAperture,
                                    int32_t maxAperture);

/* Frequency-domain filters. */
SR_API void SR_ButterworthFilter(SR_Image* image, SR_FilterType channel, double d0, double w,
                                 int32_t order);
SR_API void SR_GaussFilter(SR_Image* image, SR_FilterType channel, double d0, double w);
/* Butterworth notch reject; SR_NbGaussFilter is the same entry point. */
SR_API void SR_NbButterworthFilter(SR_Image* image, SR_FilterType channel, double d0, double u0,
                                   double v0, int32_t order);
SR_API void SR_NbGaussFilter(SR_Image* image, SR_FilterType channel, double d0, double u0,
                             double v0, int32_t order);
SR_API void SR_WienerFilterTurb(SR_Image* image, SR_FilterType channel, double k,
                                double noiseFactor);
SR_API void SR_WienerFilterMoving(SR_Image* image, SR_FilterType channel, double t, double a,
                                  double b, double noiseFactor);

#ifdef __cplusplus
}
#endif

#endif /* SARNEL_SARNEL_H */
