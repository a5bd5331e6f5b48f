// The result codes of the C API with their symbolic names and messages, and the texts of a
// signature's status and reason. The sources are UTF-8; the compiler turns the texts into the
// Windows-1250 the library hands out (narrow literals), so they are converted once, when built.
#pragma once

#include <cstddef>
#include <cstdint>

struct TalCodeRow {
  int32_t code;
  const char* message;  // Windows-1250
  const char* name;
};

// The rows in table order (the end row is not included).
const TalCodeRow* talCodeRows(size_t* count);

// The Windows-1250 message of a code; NULL when the table has no row for it (the first row with
// the code wins).
const char* talCodeMessage(int32_t code);
// The symbolic name of a code, NULL without a row.
const char* talCodeName(int32_t code);

// Windows-1250 texts used when formatting.
const char* talUnknownCodeFormat();     // "Nieznany kod błędu %d !!!"
const char* talDeviceErrorConstant();   // code 39 without a context
const char* talCardErrorFormat();       // code 44 with a PKCS#11 token, "%s" the return value

// Status 1..4 and reason texts (Windows-1250); NULL outside the tables.
const char* talStatusText(int32_t status);
const char* talReasonMessage(int32_t reason);
