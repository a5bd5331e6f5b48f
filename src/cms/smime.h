// S/MIME messages: not built in this library. Every operation answers 137
// (not implemented) and no stream is taken for a message of this library.
#pragma once

#include <cstdint>

class GenericFile;
class SignedCertificate;
template <class T>
class ASNsequenceList;

class SMIMEctx {
 public:
  // `report` (not owned) would receive the report lines.
  explicit SMIMEctx(GenericFile* report) : report(report) {}
  ~SMIMEctx() = default;
  SMIMEctx(const SMIMEctx&) = delete;
  SMIMEctx& operator=(const SMIMEctx&) = delete;

  int32_t encrypt(const ASNsequenceList<SignedCertificate>* recipients);
  int32_t sign(uint32_t flags, GenericFile* output);
  int32_t copyStream(GenericFile* input, GenericFile* output);
  int32_t encryptMimeBody(GenericFile* output);

  GenericFile* report;
};

// False (type 0): no stream is recognised as a message of this library.
bool isSMimeMessage(GenericFile* stream, int32_t* type);
