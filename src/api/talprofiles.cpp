// Key profiles and their proxy settings, server iterators, the results of a verification (the
// message and its signatures) and the protection of a message stream.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/ctxprotect.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "api/talstream.h"
#include "base/commonerror.h"
#include "base/livehandles.h"
#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "pki/sig/sigprops.h"
#include "pki/sig/sigrecords.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#define PRF_UNIT "API/talprofile"

namespace {

// The profile behind a handle for one call, in turn with everything else that reads or writes
// it: TalApiException 20 for a handle that is no profile (any more). A profile no context has
// taken is held (a delete on another thread waits for it) under its own lock. A taken one is
// used under the lock of the context that took it, which reads it under that lock; the context
// is held instead, and the profile is the context's still (a profile its context refused is
// gone, and so is one whose context closed). The profile's hold is given up before the wait for
// the context's lock: whoever deletes the profile may hold that lock (a context refusing it).
class ProfileUse {
 public:
  explicit ProfileUse(talProfile* handle) : hold(TalProfile::holdHandle(handle)) {
    TalProfile* profile = hold.as<TalProfile>();
    if (!profile) throw TalApiException(20);
    std::unique_lock<std::mutex> turn(profile->callLock());
    const void* taker = profile->takenBy();
    if (!taker) {
      ownTurn = std::move(turn);
      used = profile;
      return;
    }
    turn.unlock();
    // A close that has begun is waited for: a context that stays open keeps its profile.
    contextHold = HandleHold(taker, HandleKind::Context, true);
    hold.release();
    talCtx* ctx = contextHold.as<talCtx>();
    if (!ctx) throw TalApiException(20);
    contextTurn = std::unique_lock<std::recursive_mutex>(ctx->inUse);
    // Compared, never read: a context takes one profile, once.
    if (ctx->configuration.activeProfile() != profile) throw TalApiException(20);
    used = profile;
  }
  TalProfile* get() const { return used; }

 private:
  HandleHold hold;
  std::unique_lock<std::mutex> ownTurn;
  HandleHold contextHold;
  std::unique_lock<std::recursive_mutex> contextTurn;
  TalProfile* used = nullptr;
};

// A copy the caller frees with talDeleteBuffer.
struct FreeCallerBuffer {
  void operator()(char* buffer) const { freeCallerBuffer(buffer); }
};
using CallerText = std::unique_ptr<char, FreeCallerBuffer>;
CallerText copyText(const std::string& text) {
  CallerText copy(static_cast<char*>(newCallerBuffer(text.size() + 1)));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

// The message or signature behind a handle, held for the call: empty for anything that is not
// one alive (never read then), and not freed under the call by another thread.
HandleHold holdMessage(const talMsgInfo* handle) { return HandleHold(handle, HandleKind::Message); }
HandleHold holdSignature(const talSigInfo* handle) {
  return HandleHold(handle, HandleKind::Signature);
}

int32_t protectBody(talCtx* handle, const void* recipients, talStream* input, talStream* output,
                    int32_t flags) {
  CtxUse use(handle);
  if (use.code() != 0) return use.code();
  talCtx* ctx = checkCtxAndResetReport(use);
  // Both streams are held for the call: another call that hands one of them in, or deletes
  // one, is refused meanwhile; one stream for both ends is refused too.
  StreamUse inUse(input), outUse(output);
  GenericFile* in = inUse.get();
  GenericFile* out = outUse.get();
  // One file behind both streams would be emptied before it is read: refused as one stream.
  if (in && out && talStream::sameFile(input, output)) out = in;
  bool written = false;
  const int32_t r = protectMessage(ctx, recipients, in, out, flags, [&] {
    talStream::discard(output);
    written = true;
  });
  // A failed protection leaves no output that could pass for a message.
  if (r > 10 && written) talStream::discard(output);
  return r;
}

}  // namespace

extern "C" {

talProfile* talCreateProfile(int32_t type) {
  return tracePointer("talCreateProfile", [&]() -> talProfile* {
    return catchAll(static_cast<talProfile*>(nullptr), [&] {
      return reinterpret_cast<talProfile*>(createProfile(type));
    });
  });
}

int32_t talDeleteProfile(talProfile* profile) {
  return traceCode("talDeleteProfile", [&] {
    return catchWithText([&] {
      // The context that took it at talInitEx deletes it; deleting it here would leave the
      // context with a freed profile. Taken in one step with that check, once no other call
      // reads it: of two deletes one frees it, and a talInitEx meanwhile is refused.
      const TalProfile* p = reinterpret_cast<const TalProfile*>(profile);
      if (!TalProfile::isValidHandle(profile) ||
          !takeHandle(profile, HandleKind::Profile, nullptr,
                      [&] { return !p->isHeldByContext(); }))
        return 20;
      delete p;
      return 0;
    });
  });
}

int32_t talSetProfileAttr(talProfile* profile, int32_t number, const void* value,
                          int32_t length) {
  return traceCode("talSetProfileAttr", [&] {
    return catchWithText([&]() -> int32_t {
      ProfileUse use(profile);
      TalProfile* p = use.get();
      if (length < 0) return 20;
      return p->setAttribute(number, value, static_cast<size_t>(length)) != 0 ? 20 : 0;
    });
  });
}

int32_t talGetProfileAttr(talProfile* profile, int32_t number, void* buffer, int32_t* length) {
  return traceCode("talGetProfileAttr", [&] {
    return catchWithText([&]() -> int32_t {
      ProfileUse use(profile);
      const TalProfile* p = use.get();
      if (!length || *length < 0) return 20;
      size_t size = static_cast<size_t>(*length);
      int32_t r = p->getAttribute(number, buffer, &size);
      if (r == PROFILE_ATTR_OK || r == PROFILE_ATTR_SHORT_BUFFER || r == PROFILE_ATTR_DEFAULT)
        *length = static_cast<int32_t>(size);
      switch (r) {
        case PROFILE_ATTR_OK: return 0;
        case PROFILE_ATTR_INVALID: return 20;
        case PROFILE_ATTR_SHORT_BUFFER: return 120;
        case PROFILE_ATTR_DEFAULT: return 133;
        case PROFILE_ATTR_NO_VALUE: return 134;
        default: checkInvariant(false, PRF_UNIT, __LINE__, "false");
      }
      return 141;
    });
  });
}

int32_t talAddProxy(talProfile* profile, const char* address, int32_t port, const char* login,
                    const char* password) {
  return traceCode("talAddProxy", [&] {
    return catchWithText([&] {
      ProfileUse use(profile);
      use.get()->setProxy(address, port, login, password);
      return 0;
    });
  });
}

int32_t talGetProxy(talProfile* profile, char** address, int32_t* port, char** login,
                    char** password) {
  return traceCode("talGetProxy", [&] {
    return catchWithText([&] {
      ProfileUse use(profile);
      const TalProfile* p = use.get();
      std::string host, user, secret;
      // The password's copy is wiped before its memory goes back, on every way out.
      struct Wipe {
        std::string& text;
        ~Wipe() { SecretBlock::wipe(&text[0], text.size()); }
      } wipeSecret{secret};
      int32_t proxyPort = 0;
      p->getProxy(host, proxyPort, user, secret);
      // Each copy is made before any is handed out, so a failure leaks none.
      CallerText a = address ? copyText(host) : nullptr;
      CallerText l = login ? copyText(user) : nullptr;
      CallerText s = password ? copyText(secret) : nullptr;
      if (address) *address = a.release();
      if (login) *login = l.release();
      if (password) *password = s.release();
      if (port) *port = proxyPort;
      return 0;
    });
  });
}

int32_t talDeleteServerIterator(talServerIterator* iterator) {
  return traceCode("talDeleteServerIterator", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] {
      // Only a list the library handed out is freed; a stranger's pointer is refused.
      if (!iterator) return 0;
      return TalProfile::destroyServerList(reinterpret_cast<ServerIterator*>(iterator)) ? 0 : 20;
    });
  });
}

int32_t talMsgStatus(const talMsgInfo* message, int32_t* status) {
  return traceCode("talMsgStatus", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdMessage(message);
      const MsgInfo* info = hold.as<const MsgInfo>();
      if (!info || !status) return 20;
      *status = info->status;
      return 0;
    });
  });
}

int32_t talGetMessageSignatureCount(const talMsgInfo* message, int32_t* count) {
  return traceCode("talGetMessageSignatureCount", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdMessage(message);
      const MsgInfo* info = hold.as<const MsgInfo>();
      if (!info || !count) return 20;
      *count = info->GetCount();
      return 0;
    });
  });
}

int32_t talGetMessageSignature(const talMsgInfo* message, int32_t index, talSigInfo** signature) {
  return traceCode("talGetMessageSignature", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdMessage(message);
      const MsgInfo* info = hold.as<const MsgInfo>();
      if (!info || !signature) return 20;
      if (index < 0 || index >= info->GetCount()) return 20;
      POSITION position = info->FindIndex(index);
      if (!position) return 20;
      SigInfo* found = static_cast<SigInfo*>(PointerList::GetAt(position));
      if (!found) return 20;
      *signature = reinterpret_cast<talSigInfo*>(found);
      return 0;
    });
  });
}

int32_t talSignatureStatus(const talSigInfo* signature, int32_t* status, int32_t* qualification,
                           int32_t* reason) {
  return traceCode("talSignatureStatus", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdSignature(signature);
      const SigInfo* info = hold.as<const SigInfo>();
      if (!info || !status || !qualification || !reason) return 20;
      *status = info->status;
      *qualification = info->qualification;
      *reason = info->reason;
      return 0;
    });
  });
}

int32_t talGetSignatureTimeStampCount(const talSigInfo* signature, int32_t* count) {
  return traceCode("talGetSignatureTimeStampCount", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdSignature(signature);
      const SigInfo* info = hold.as<const SigInfo>();
      if (!info || !count) return 20;
      *count = static_cast<int32_t>(info->timeStampTokens.items.size());
      return 0;
    });
  });
}

int32_t talGetCounterSignatureCount(const talSigInfo* signature, int32_t* count) {
  return traceCode("talGetCounterSignatureCount", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      HandleHold hold = holdSignature(signature);
      const SigInfo* info = hold.as<const SigInfo>();
      if (!info || !count) return 20;
      *count = info->form >= 4 && info->properties ? info->properties->counterSignatureCount() : 0;
      return 0;
    });
  });
}

int32_t talProtectMessageGF(talCtx* ctx, const void* recipients, talStream* input,
                            talStream* output, int32_t flags) {
  // Not traced.
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                  [&] { return protectBody(ctx, recipients, input, output, flags); });
}

}  // extern "C"
