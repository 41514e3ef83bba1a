/* A libzembra that lacks most of the reader's entry points, for the test of a
 * library that cannot be bound. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t Load(const char* path) {
    (void)path;
    return -1;
}

__attribute__((visibility("default"))) int32_t GetFrameCount(void) {
    return 3;
}
