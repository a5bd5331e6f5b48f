/* A session over the public C API: open a context on a memory profile, install a trusted root
 * from a certificate file for this session only (a stored one would be trusted by every later
 * context of the user), hash a file with SHA-256 and print it in upper-case hexadecimal, close.
 *   verify_session ROOT.der FILE
 * Build against an installed copy:
 *   cc -std=c99 verify_session.c $(pkg-config --cflags --libs talvorin) */
#include <talvorin.h>

#include <stdio.h>

static int fail(talCtx* ctx, const char* call, int32_t code) {
  fprintf(stderr, "%s: %d %s\n", call, (int)code, talErrorText(ctx, code));
  return 1;
}

int main(int argc, char** argv) {
  talProfile* profile;
  talCtx* ctx = NULL;
  talCert* root = NULL;
  uint8_t digest[32];
  int32_t code, isRoot = 0;
  int i;

  if (argc != 3) {
    fprintf(stderr, "usage: %s ROOT.der FILE\n", argv[0]);
    return 2;
  }
  profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) return fail(NULL, "talCreateProfile", ETAL_MEM);
  talSetProfileAttr(profile, 0, "ExampleProfile", 15);
  talSetProfileAttr(profile, 17, "w pamieci", 10);
  if ((code = talInitEx(&ctx, profile)) > 10) return fail(NULL, "talInitEx", code);

  if ((code = talAllocateCertFromFile(argv[1], &root)) > 10) {
    fail(ctx, "talAllocateCertFromFile", code);
  } else {
    if (talIsCAAutoCert(root, &isRoot) == TAL_OK && isRoot &&
        (code = talInstallRoot(ctx, root, TAL_ROOT_SESSION, 1)) > 10)
      fail(ctx, "talInstallRoot", code);
    talDeleteCertificate(root);
  }
  if ((code = talAuthenticateEx(ctx, 0)) > 10) fail(ctx, "talAuthenticateEx", code);
  printf("%s", talReportText(ctx));

  if ((code = talHashFile(argv[2], TAL_HASH_SHA256, digest, sizeof digest)) > 10) {
    fail(ctx, "talHashFile", code);
  } else {
    printf("[");
    for (i = 0; i < (int)sizeof digest; ++i) printf("%02X", digest[i]);
    printf("]\n");
  }
  return talDeinit(ctx) == TAL_OK ? 0 : 1;
}
