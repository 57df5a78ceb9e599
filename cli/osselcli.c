/*
 * osselcli - makes one PDF file smaller.
 *
 *   osselcli [options] input.pdf
 *
 * Options are the optimizer's option names with a leading '-'. The program
 * reads "help", "o" and "password" itself and hands everything else to the
 * optimizer. Messages go to standard error; the owner-password message goes
 * to standard output. Exit status: 1 after a help request or an argument
 * error, 5 when the input needs the owner password, otherwise the
 * optimizer's result (0 on success).
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ossel.h"
#include "tagopt.h"

/* Standard error is written unbuffered and flushed after every write, so the
 * messages appear in order with anything the optimizer's libraries print. */
static void print_err(const char *text)
{
    fputs(text, stderr);
    fflush(stderr);
}

static int32_t on_begin(void *userData)
{
    (void)userData;
    return 0;
}

static int32_t on_end(void *userData)
{
    (void)userData;
    return 0;
}

static int32_t on_progress(void *userData, double fraction)
{
    (void)userData;
    (void)fraction;
    return 0;
}

static int32_t on_error(void *userData, const char *text)
{
    (void)userData;
    print_err(text);
    return 0;
}

static int32_t on_message(void *userData, const char *text)
{
    (void)userData;
    print_err(text);
    return 0;
}

/* Phase lines come without a line end. */
static int32_t on_status(void *userData, const char *text)
{
    (void)userData;
    print_err(text);
    print_err("\n");
    return 0;
}

/* The text, or NULL when it is NULL or empty. */
static const char *null_if_empty(const char *text)
{
    return (text == NULL || text[0] == '\0') ? NULL : text;
}

int main(int argc, char **argv)
{
    tagopt_handle *h = tagopt_initialize(ossel_get_opts(), 0);
    int n = tagopt_argv(h, argc, argv, 0);

    /* Help is answered before the arguments are judged, so it works without
     * an input file. */
    const char *help = tagopt_get(h, "help");
    if (help != NULL && help[0] != '\0') {
        char *text;
        if (strcmp(help, "usage") == 0) {
            tagopt_release(h);
            return 1;
        }
        text = tagopt_help(h, help);
        print_err("Help for option ");
        print_err(help);
        print_err("\n");
        print_err(text != NULL ? text : "No such option");
        print_err("\n");
        free(text);
        tagopt_release(h);
        return 1;
    }

    if (n != 2) {
        print_err("Error processing command line arguments\n");
        if (h != NULL) {
            print_err(h->error_text);
        }
        tagopt_release(h);
        return 1;
    }

    {
        const char *input = argv[1];
        const char *output = tagopt_get(h, "o");
        const char *ownerPassword;
        const char *userPassword;
        StatusCallbackRecord callbacks;
        int result;

        if (output == NULL || output[0] == '\0') {
            print_err("Error: no output filename\n");
            tagopt_release(h);
            return 1;
        }

        callbacks.userData = NULL;
        callbacks.begin = on_begin;
        callbacks.end = on_end;
        callbacks.progress = on_progress;
        callbacks.error = on_error;
        callbacks.message = on_message;
        callbacks.status = on_status;
        (void)tagopt_put(h, "StatusCallbacks", (const char *)&callbacks);

        ownerPassword = null_if_empty(tagopt_get(h, "password"));
        /* The option table has no "userpassword" and the command line cannot
         * add one, so this stays NULL; it is read for callers that extend
         * the table. */
        userPassword = null_if_empty(tagopt_get(h, "userpassword"));

        if (ossel_check_encrypted(input, userPassword, ownerPassword) != 0) {
            fputs("ERROR: The PDF file is encrypted and the correct owner password was not provided\n", stdout);
            fflush(stdout);
            result = OSSEL_ERR_PERMISSION;
        } else {
            result = ossel_process_encrypted(input, output, userPassword, ownerPassword, h);
        }

        tagopt_release(h);
        return result;
    }
}
