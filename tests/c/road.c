/* The road of one verification session through the C API, from C: open a memory profile,
 * authenticate, set the application's options and read them back, install roots and further
 * certificates made by openssl, hash a file, clone the context and use both from two threads,
 * close. Arguments: the folder of the certificates and a scratch folder. */
#include "talvorin.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(expected, call)                                                          \
  do {                                                                                 \
    int32_t got_ = (call);                                                             \
    if (got_ != (expected)) {                                                          \
      fprintf(stderr, "%s:%d: %s gave %d, not %d\n", __FILE__, __LINE__, #call, (int)got_, \
              (int)(expected));                                                        \
      ++failures;                                                                      \
    }                                                                                  \
  } while (0)

static char dataDir[512];

static const char* path(const char* folder, const char* name) {
  static char buffer[1024];
  snprintf(buffer, sizeof buffer, "%s/%s", folder, name);
  return buffer;
}

static void* useContext(void* argument) {
  talCtx* ctx = (talCtx*)argument;
  uint8_t random[32];
  int i;
  for (i = 0; i < 20; ++i) {
    CHECK(TAL_OK, talRbgFill(ctx, random, (int32_t)sizeof random));
    CHECK(TAL_OK, talSetOption(ctx, 23, i & 1));
  }
  return NULL;
}

int main(int argc, char** argv) {
  talProfile* profile;
  talCtx* ctx = NULL;
  talCtx* clone = NULL;
  talCert* root = NULL;
  talCert* leaf = NULL;
  uint8_t* der = NULL;
  int32_t length = 0, flag = -1, count = -1;
  uint8_t digest[32];
  FILE* file;
  pthread_t threads[2];
  static const int32_t options[] = {12, 27, 23};
  size_t i;

  if (argc != 3) return 2;
  snprintf(dataDir, sizeof dataDir, "%s", argv[1]);

  CHECK(TAL_OK, talNetCacheSetTimeout(10));
  profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) return 3;
  CHECK(TAL_OK, talSetProfileAttr(profile, 0, "UpoVerifierProfile", 19));
  CHECK(TAL_OK, talSetProfileAttr(profile, 17, "w pamieci", 10));
  CHECK(TAL_OK, talAddProxy(profile, "proxy.local", 8080, NULL, NULL));
  CHECK(TAL_OK, talInitEx(&ctx, profile));
  if (!ctx) return 4;

  CHECK(TAL_OK, talAllocateCertFromFile(path(dataDir, "root.der"), &root));
  CHECK(TAL_OK, talIsCAAutoCert(root, &flag));
  CHECK(1, flag);
  CHECK(TAL_OK, talInstallRoot(ctx, root, 1, 1));
  CHECK(TAL_OK, talAllocateCertFromFile(path(dataDir, "leaf.der"), &leaf));
  CHECK(TAL_OK, talIsCAAutoCert(leaf, &flag));
  CHECK(0, flag);
  CHECK(TAL_OK, talGetCrtMem(leaf, &der, &length));
  CHECK(TAL_OK, talInstallMemCrt(ctx, der, length, 1, &count));
  CHECK(1, count);
  CHECK(TAL_OK, talDeleteBuffer(der, length));
  for (i = 0; i < sizeof options / sizeof options[0]; ++i) {
    CHECK(TAL_OK, talSetOption(ctx, options[i], 0));
  }
  CHECK(TAL_OK, talAuthenticateEx(ctx, 0));
  CHECK(ETAL_API_INV_PAR, talSetOption(ctx, 99, 0));

  /* "abc" hashed with SHA-256, written upper-case as the application compares it */
  file = fopen(path(argv[2], "abc.txt"), "wb");
  if (!file) return 5;
  fputs("abc", file);
  fclose(file);
  CHECK(TAL_OK, talHashFile(path(argv[2], "abc.txt"), TAL_HASH_SHA256, digest, sizeof digest));
  {
    static const uint8_t expected[4] = {0xba, 0x78, 0x16, 0xbf};
    if (memcmp(digest, expected, sizeof expected) != 0) ++failures;
  }

  CHECK(TAL_OK, talCloneCtx(ctx, &clone));
  if (clone) {
    pthread_create(&threads[0], NULL, useContext, ctx);
    pthread_create(&threads[1], NULL, useContext, clone);
    pthread_join(threads[0], NULL);
    pthread_join(threads[1], NULL);
    CHECK(TAL_OK, talDeinit(clone));
  }
  CHECK(TAL_OK, talDeleteCertificate(leaf));
  CHECK(TAL_OK, talDeleteCertificate(root));
  CHECK(TAL_OK, talDeinit(ctx));
  printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
