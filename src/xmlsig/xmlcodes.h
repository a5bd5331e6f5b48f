// Result codes that the XML code throws (TalApiException) or returns; the
// values are those of the C API's table.
#pragma once

#include <cstdint>

namespace xmlrc {
const int32_t OK = 0;
const int32_t INV_PAR = 20;            // ETAL_API_INV_PAR
const int32_t OST = 39;                // ETAL_OST
const int32_t CRD_COM = 44;            // ETAL_CRD_COM
const int32_t CRD_BLOCKED = 45;        // ETAL_CRD_BLOCKED
const int32_t PASSWORD = 46;           // ETAL_PASSWORD
const int32_t RD_INFILE = 59;          // ETAL_RD_INFILE
const int32_t WR_OUTFILE = 62;         // ETAL_WR_OUTFILE
const int32_t DEKKEY = 77;             // ETAL_DEKKEY
const int32_t RSA = 80;                // ETAL_RSA
const int32_t INV_MSG = 89;            // ETAL_INV_TAL_MSG
const int32_t NOTADDR = 95;            // ETAL_NOTADDR
const int32_t MEM = 100;               // ETAL_MEM
const int32_t INV_WRK_MODE = 113;      // ETAL_INV_WRK_MODE
const int32_t KEY_NOT_FOUND = 131;     // ETAL_KEY_NOT_FOUND
const int32_t NOT_IMPL = 137;          // ETAL_NOT_IMPL
const int32_t EMPTY_TRANSFORM = 139;   // ETAL_XML_EMPTY_TRANSFORM
const int32_t TRANSFORM_FAILED = 140;  // ETAL_XML_TRANSFORM_FAILED
const int32_t INTERNAL = 141;          // ETAL_INTERNAL_ERROR
}  // namespace xmlrc
