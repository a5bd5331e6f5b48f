/* A C program over the public header: it compiles as C99 with every warning an error and calls
 * one entry point. */
#include "talvorin.h"

#include <stdio.h>
#include <string.h>

int main(void) {
  const char* ok = talErrorText(NULL, TAL_OK);
  const char* unknown = talErrorText(NULL, 166);
  if (ok == NULL || strcmp(ok, "OK") != 0) return 1;
  if (unknown == NULL || strstr(unknown, "166") == NULL) return 2;
  if (ETAL_MEM != 100 || ETAL_UNKNOWN_EXCEPTION != 161) return 3;
  {
    /* A memory stream made, read back and deleted from C. */
    talStream* stream = NULL;
    uint8_t* data = NULL;
    int32_t length = 0;
    if (talCreateMemStream((const uint8_t*)"abc", 3, &stream) != TAL_OK) return 4;
    if (talGetMemStreamData(stream, &data, &length) != TAL_OK || length != 3) return 5;
    if (talDeleteBuffer(data, length) != TAL_OK || talDeleteStream(stream) != TAL_OK) return 6;
    if (talSetPin(NULL, 1, "1234") != ETAL_API_INV_PAR) return 7;
  }
  puts(ok);
  return 0;
}
