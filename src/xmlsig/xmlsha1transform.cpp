#include "xmlsig/xmlsha1transform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/hash/messagedigests.h"
#include "xmlsig/xmlmisc.h"

#include <memory>
#include <vector>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlsha1transform";
}

XmlHashFileTransform::XmlHashFileTransform(MessageDigestCtx* digestA, MessageDigestCtx* digestB,
                                           uint32_t hashId)
    : XmlTransform(5, XML_DATA_OWN, XML_DATA_FILE),
      digestA(digestA),
      digestB(digestB),
      hashId(hashId) {}

void XmlHashFileTransform::applyToFile(TVxmlDoc* doc) {
  checkInvariant(doc != nullptr && doc->reader != nullptr, SRC, 32, "detachedDoc != NULL");
  std::unique_ptr<LvHash> own;
  if (hashId != 0) {
    own.reset(lvHashCreateObject(hashId));
    own->init();
    digestLength = own->getHashOctets();
  }
  if ((doc->reader->seek(0) & 0xFFFF) == 0xFFFF) throw TalApiException(xmlrc::RD_INFILE);
  std::vector<uint8_t> block(16384);
  for (;;) {
    uint32_t n = 0;
    int32_t st = doc->reader->read(16384, block.data(), &n);
    if ((st & 0xFFFF) == 0xFFFF) throw TalApiException(xmlrc::RD_INFILE);
    checkInvariant(st == 0, SRC, 59, "0");
    if (n == 0) break;
    if (digestA) digestA->update(block.data(), n);
    if (digestB) digestB->update(block.data(), n);
    if (own) own->step(block.data(), n);
  }
  if (own) {
    own->finish();
    own->getHash(digestLength, digestValue);
  }
}
