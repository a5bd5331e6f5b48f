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
  puts(ok);
  return 0;
}
