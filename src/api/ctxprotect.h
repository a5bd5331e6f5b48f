// Message protection for a library context: signing and/or encryption of a stream through the
// S/MIME context, with the key manager prepared for it. Behind talProtectMessageGF and behind
// the signed time-stamp requests.
#pragma once

#include <cstdint>
#include <functional>

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
// operation (a time-stamp request) keeps that operation's report. `begin`, when given, is
// called once the checks have passed, just before the message is written (the C entry empties
// its output stream there, so no older bytes trail a shorter message).
int32_t protectMessage(talCtx* ctx, const void* recipients, GenericFile* input,
                       GenericFile* output, int32_t flags,
                       const std::function<void()>& begin = std::function<void()>());
