/* A program of someone else's, built against the installed libraries with
 * nothing but pkg-config: prints the red value of the middle pixel after a
 * 3 x 1 maximum filter, and the frame count after asking for two frames. */
#include <sarnel/sarnel.h>
#include <zembra/zembra.h>

#include <stdio.h>

int main(void) {
    SR_Bitmap* in = SR_CreateBitmap(3, 1);
    if (!in) return 1;
    for (int x = 0; x < 3; ++x) {
        in->pixels[4 * x + 2] = (uint8_t)(10 * (x + 1));
        in->pixels[4 * x + 3] = 255;
    }
    SR_Image* img = SR_LoadBitmap(in);
    SR_DeleteBitmap(in);
    if (!img) return 2;
    SR_InitMath();
    SR_MaxFilter(img, SR_CHANNEL_RED, 3, 1);
    SR_Bitmap* out = SR_GetBitmap(img);
    SR_UnloadBitmap(img);
    SR_TerminateMath();
    if (!out) return 3;
    const int red = out->pixels[4 + 2];
    SR_DeleteBitmap(out);

    Reset();
    SetFrameCount(2);
    printf("%d %d\n", red, (int)GetFrameCount());
    return 0;
}
