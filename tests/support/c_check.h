/* A minimal check macro for the C test programs: a failing check prints its
 * place and condition and is counted; main returns nonzero when any failed. */
#ifndef OSSEL_C_CHECK_H
#define OSSEL_C_CHECK_H

#include <stdio.h>

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

#endif
