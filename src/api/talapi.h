// What the bodies of the C API's entry points share: the maps from the key manager's answers to
// result codes, the hash numbers of the C API, and the hooks the tests use to reach states the
// library cannot be driven into from outside.
#pragma once

#include <cstddef>
#include <cstdint>

struct talCtx;

// One row of an answer map: the key manager's answer, the result, and whether the cached PINs
// are wiped first. A result of 0 goes on.
struct AnswerRow {
  int32_t answer;
  int32_t result;
  bool wipePins;
};

// The result of an answer; an answer without a row is an invariant failure (source `unit`).
int32_t mapAnswer(talCtx* ctx, const AnswerRow* rows, size_t count, int32_t answer,
                  const char* unit, int line);

// The answer maps of KeyManager::initProfile, saveConf, loadRoots and openSession.
extern const AnswerRow INIT_PROFILE_ANSWERS[];
extern const size_t INIT_PROFILE_ANSWER_COUNT;
extern const AnswerRow SAVE_CONF_ANSWERS[];
extern const size_t SAVE_CONF_ANSWER_COUNT;
extern const AnswerRow LOAD_ROOTS_ANSWERS[];
extern const size_t LOAD_ROOTS_ANSWER_COUNT;
extern const AnswerRow OPEN_SESSION_ANSWERS[];
extern const size_t OPEN_SESSION_ANSWER_COUNT;

// A new buffer of `size` bytes (at least one is allocated) that the caller frees with
// talDeleteBuffer: enlisted, so that talDeleteBuffer frees only what the library handed out.
// Null when memory runs out.
void* newCallerBuffer(size_t size);
// Frees such a buffer that was never handed out.
void freeCallerBuffer(void* buffer);

// The C API's hash number (1 SHA-1, 2 MD5, 3 SHA-224, 4 SHA-256, 5 SHA-384, 6 SHA-512,
// 7 RIPEMD-128, 8 RIPEMD-160) as the configuration's and the hash library's id, 0 outside 1..8;
// and back (0 for an unknown id).
int32_t apiHashToDigest(int32_t api);
int32_t digestToApiHash(int32_t digest);

// The table's identifier name of a digest of the hash library ("sha256"), "?" when unknown.
const char* digestIdentifierName(int32_t digest);
// Writes "Funkcja skrótu <name> nie jest wspierana z aktualnym schematem klucza do
// podpisywania." into the context's report.
void reportUnsupportedDigest(talCtx* ctx, int32_t digest);

// The self-test the first talInitEx of the process runs (lvSelfTest by default); a test may
// replace it and forget that it passed.
void talReplaceSelfTest(bool (*test)());
