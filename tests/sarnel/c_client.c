/* A C client of the library: proves the header is plain C and the exports are
 * callable from C. Returns the red value of pixel (1, 0) after a 3 x 1 maximum. */
#include "sarnel/sarnel.h"

int sarnel_c_client(void) {
    SR_Bitmap* in = SR_CreateBitmap(3, 1);
    if (!in) return -1;
    for (int x = 0; x < 3; ++x) {
        in->pixels[4 * x + 2] = (uint8_t)(10 * (x + 1)); /* red 10, 20, 30 */
        in->pixels[4 * x + 3] = 255;
    }
    SR_Image* img = SR_LoadBitmap(in);
    SR_DeleteBitmap(in);
    if (!img) return -2;
    SR_InitMath();
    SR_MaxFilter(img, SR_CHANNEL_RED, 3, 1);
    SR_Bitmap* out = SR_GetBitmap(img);
    SR_UnloadBitmap(img);
    SR_TerminateMath();
    if (!out) return -3;
    const int red = out->pixels[4 + 2];
    SR_DeleteBitmap(out);
    return red;
}
