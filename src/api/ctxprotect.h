// Message protection for a library context: signing and/or encryption of a stream through the
// S/MIME context, with the key manager prepared for it. Behind talProtectMessageGF and behind
// the signed time-stamp requests.
#pragma once

#include <cstdint>

class GenericFile;
struct talCtx;

// Flags of a protection.
const int32_t PROTECT_ENCRYPT = 1;
const int32_t PROTECT_SIGN = 2;
const int32_t PROTECT_SIGN_BY_OPTION_3 = 64;
const int32_t PROTECT_NO_KEY_MANAGER = 128;
const int32_t PROTECT_REFUSED = 256;

// Protects `input` into `output` (both rewound first) for a context whose handle was checked:
// a result code. `recipients` is a NULL-terminated array of certificates (talCert handles) when
// the flags encrypt. The context's report is not emptied, so a protection inside another
// operation (a time-stamp request) keeps that operation's report. `written`, when given, tells
// whether the message was begun (so a failure may have left part of one in the output).
int32_t protectMessage(talCtx* ctx, const void* recipients, GenericFile* input,
                       GenericFile* output, int32_t flags, bool* written = nullptr);
