// The library context behind the C API's opaque handle. The managers join it as they are built;
// what is here now is what the entry points of the texts and codes read: the marker that proves
// a handle, the configuration and key managers, the report of the current operation, the device
// error number and the buffer of formatted error texts.
#pragma once

#include "api/cfgmgr.h"
#include "api/dbsettings.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "keys/keymanager.h"

#include <cstdint>

// 16 printable ASCII characters and a zero; the first bytes of every context.
extern const char TAL_CTX_MARKER[17];

struct talCtx {
  // First member: a handle is a context when its first bytes are the marker. Written last by the
  // constructor, so a context under construction never passes.
  char marker[17];
  ConfigurationManager configuration;
  KeyManager keyManager;
  // The database door, reading its settings from the configuration's profile.
  ContextDbSettings dbSettings;
  DbManager database;
  MemFile reportBuffer;
  ReportStream report;
  uint32_t deviceError = 0;
  char errorText[256];
  int32_t warnings = 0;

  talCtx();
  ~talCtx();
  talCtx(const talCtx&) = delete;
  talCtx& operator=(const talCtx&) = delete;
};

// 20 for NULL, 21 when the handle's first bytes are not the marker (compared byte by byte up to
// and including its zero, stopping at the first difference), 0 otherwise.
int32_t checkCtx(const void* handle);
// checkCtx, throwing TalApiException with its code; then an empty report and no warnings.
talCtx* checkCtxAndResetReport(void* handle);
// 10 when the operation wrote warnings, else 0: how a body that reached its end answers.
int32_t endOfOperation(const talCtx* ctx);
