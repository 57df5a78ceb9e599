/* Includes only the public headers, compiles as C99 and calls every
 * exported function through them, so the C API is proven usable from C. */
#include "ossel.h"
#include "tagopt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "c_check.h"

int main(void) {
    const tagopt_def *defs = ossel_get_opts();
    CHECK(defs != NULL);
    tagopt_handle *h = tagopt_initialize(defs, 0);
    CHECK(h != NULL);
    if (!h)
        return 1;

    char a0[] = "prog", a1[] = "-ColorImageResolution", a2[] = "100", a3[] = "in.pdf";
    char *argv[] = {a0, a1, a2, a3, NULL};
    CHECK(tagopt_argv(h, 4, argv, 0) == 2);
    CHECK(strcmp(argv[1], "in.pdf") == 0);
    CHECK(strcmp(tagopt_get(h, "ColorImageResolution"), "100") == 0);

    CHECK(tagopt_put(h, "keyLength", "64") == 3);
    CHECK(h->error_text[0] != '\0');
    CHECK(tagopt_put(h, "keyLength", "128") == 0);

    char *help = tagopt_help(h, "o");
    CHECK(help != NULL && strstr(help, "Set output filename") != NULL);
    free(help);
    char *usage = tagopt_usage(h, 0);
    CHECK(usage != NULL);
    free(usage);

    CHECK(tagopt_merge(h, "/nonexistent/setup/file") == 2);

    OptimizerSettings s;
    memset(&s, 0, sizeof s);
    CHECK(ossel_set_defaults(&s) == &s);
    CHECK(s.recompressStreams && s.recompressStreamsFlateLevel == 9);
    CHECK(ossel_set_defaults(NULL) == NULL);
    CHECK(ossel_get_version() == 111);

    CHECK(ossel_check_encrypted(NULL, NULL, NULL) == 1);
    CHECK(ossel_process(NULL, "out.pdf", h) == 1);
    CHECK(ossel_process_encrypted("in.pdf", NULL, NULL, NULL, h) == 1);

    tagopt_release(h);
    tagopt_release(NULL);
    if (failures)
        return 1;
    printf("c_api_test: 1 passed, 0 failed\n");
    return 0;
}
