/* A user's program built against the installed library with pkg-config alone. */
#include <talvorin.h>

#include <stdio.h>

int main(void) {
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  talCtx* ctx = NULL;
  if (!profile) return 1;
  if (talSetProfileAttr(profile, 17, "w pamieci", 10) != TAL_OK) return 2;
  if (talInitEx(&ctx, profile) != TAL_OK) return 3;
  if (talAuthenticateEx(ctx, 0) != TAL_OK) return 4;
  puts(talErrorText(ctx, TAL_OK));
  return talDeinit(ctx) == TAL_OK ? 0 : 5;
}
