/* The resampler's header compiles as C and its functions link from C. */
#include <stddef.h>

#include "scale.h"

/* Reduces a 4 x 2 gray image to 2 x 1 with "box"; 0 when the result is the
   rounded mean of each 2 x 2 block, a positive step number otherwise. */
int scale_c_api_smoke(void)
{
    static const unsigned char rows[2][4] = {{0, 10, 100, 200}, {20, 30, 50, 51}};
    unsigned char *block = NULL;
    int first = -1;
    int count = -1;
    int y;
    int result = 0;
    scale_state *s = scale_init(4, 2, 2, 1, 0.0, 0.0, "box", 8, 8, 32, 8, 8, 16, 1);
    if (s == NULL) {
        return 1;
    }
    for (y = 0; y < 2 && result == 0; ++y) {
        if (scale_do(s, rows[y], 0, y, 1, &block, 0, &first, &count) != 1) {
            result = 2;
        }
    }
    if (result == 0 && (first != 0 || count != 1 || block == NULL)) {
        result = 3;
    }
    if (result == 0 && (block[0] != 15 || block[1] != 100)) { /* 60 / 4 = 15; 401 / 4 = 100.25 */
        result = 4;
    }
    if (result == 0 && (scale_flush(s, &block, 0, &first, &count) != 1 || count != 0)) {
        result = 5;
    }
    scale_free(s);
    return result;
}
