// The plain digest of a detached file, fed also to the reference's running digests.
#pragma once

#include "xmlsig/xmltransform.h"

class MessageDigestCtx;

class XmlHashFileTransform : public XmlTransform {
 public:
  XmlHashFileTransform(MessageDigestCtx* digestA, MessageDigestCtx* digestB, uint32_t hashId);
  const uint8_t* outputBytes() override { return digestValue; }
  uint32_t outputLength() override { return digestLength; }
  void applyToFile(TVxmlDoc* doc) override;

  MessageDigestCtx* digestA;
  MessageDigestCtx* digestB;
  uint32_t hashId;
  uint32_t digestLength = 0;
  uint8_t digestValue[64] = {};
};
