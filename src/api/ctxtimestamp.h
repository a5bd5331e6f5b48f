// Time-stamp requests made for a library context: the request code's
// environment over the context (report lines and warning bits always to the
// caller's context; options and network of the second context when one is
// given; the new token verified by a driver of the caller's context), and
// its hand-over to the XML signatures that make archive time-stamps.
#pragma once

#include "xmlsig/sigpropsxml.h"

#include <cstdint>
#include <string>

struct talCtx;

// One token over `digest` (hash `hashId`) appended to `out` when kept: the
// request's result code.
int32_t requestContextTimeStamp(talCtx* ctx, talCtx* second, const std::string& digest, int32_t hashId,
                                ArchiveTimeStampTokens& out);
// The requester of `ctx` in a signature setup.
void useContextTimeStamps(XmlSignatureSetup& setup, talCtx* ctx);
