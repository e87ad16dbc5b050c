/* The homepage address, converted at each call from the UTF-8 it was built
   with into code page 932. */
#include "Kovhpurl.h"

#include <errno.h>
#include <iconv.h>
#include <stdlib.h>
#include <string.h>

#ifndef KOVHPURL_HOMEPAGE_URL
#error "KOVHPURL_HOMEPAGE_URL must be defined by the build"
#endif

char* GetHP_URL(void) {
    const char* utf8 = KOVHPURL_HOMEPAGE_URL;
    size_t inLeft = strlen(utf8);
    /* Code page 932 never needs more bytes than UTF-8 for the same text. */
    size_t capacity = inLeft + 1;
    char* result = malloc(capacity);
    if (!result) return NULL;

    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == (iconv_t)-1) {
        free(result);
        return NULL;
    }
    char* in = (char*)utf8;
    char* out = result;
    size_t outLeft = capacity - 1;
    const size_t converted = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (converted == (size_t)-1 || inLeft != 0) {
        free(result);
        return NULL;
    }
    *out = '\0';
    return result;
}

void FreeHP_URL(char* address) { free(address); }
