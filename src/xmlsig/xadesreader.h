// The reader of an XAdES QualifyingProperties element (the 1.3.2 namespace,
// the older 1.1.1 form, and the 1.4.1 archive time-stamp and validation
// data): the signed signature and data-object properties into signed
// attribute records, and the unsigned signature properties into time-stamp
// tokens, certificate and revocation references and values, and
// counter-signatures. It runs inside the signature parser, which hands it the
// element and keeps what it reads.
//
// Every walk over the stranger's element iterates over siblings, every list
// is capped, base64 is decoded with a bound, and counter-signatures nest at
// most XADES_MAX_NESTING levels, the signature itself counted (3 below it).
#pragma once

#include "pki/sig/sigrecords.h"
#include "xmlsig/signedattrsxml.h"
#include "xmlsig/xmlsigparser.h"

#include <libxml/tree.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Levels of a signature and its counter-signatures inside counter-signatures,
// the signature itself counted: 3 levels of counter-signature below it.
const int XADES_MAX_NESTING = 4;
// Entries of one list (tokens, references, values) a signature may carry.
const size_t XADES_MAX_ENTRIES = 1024;

// One entry of a list of octets to digest: an element's canonical subtree,
// or (reference) the data of a ds:Reference, which the running reference
// digest stands for. uri: in the 1.1.1 form, the Id of the element.
struct XmlDataItem {
  xmlNodePtr node = nullptr;
  bool reference = false;
  std::string uri;
};
using XmlDataItems = std::vector<XmlDataItem>;

class XmlSignatureTimeStampToken : public SignatureTimeStampToken {
 public:
  std::string c14nUri;  // empty when the element has no CanonicalizationMethod
  xmlNodePtr element = nullptr;
};

class XmlArchiveTimeStampToken : public ArchiveTimeStampToken {
 public:
  std::string c14nUri;
  xmlNodePtr element = nullptr;
  bool v141 = false;  // the element is in the 1.4.1 namespace
};

// What the reader adds to the parser's own fields.
struct XadesProperties {
  SignedAttributesXml signedAttributes;
  std::unique_ptr<SignatureTimeStampTokens> signatureTimeStamps;
  std::unique_ptr<ArchiveTimeStampTokens> archiveTimeStamps;
  // Built when the first SignatureTimeStamp is read.
  XmlDataItems signatureTimeStampItems;
  bool signatureItemsBuilt = false;
  StlPointerList<SigInfo> counterSignatures;
  xmlNodePtr unsignedSignatureProperties = nullptr;
};

// Makes the record of a counter-signature over its ds:Signature element
// (owned by the caller); throws TalApiException when it cannot.
using XadesCounterSignatureMaker = std::function<SigInfo*(xmlNodePtr signature)>;

// Reads `qualifyingProperties` of the signature the parser is reading into
// the parser (SignedProperties node and Id, requested digests, reference and
// value lists) and `out`. Rejections write their lines to the parser's report
// and throw TalApiException 89 (137 for an unknown canonicalisation of a
// time-stamp); what was read before stays.
void readQualifyingProperties(XmlSigParser& parser, XadesProperties& out,
                              const XadesCounterSignatureMaker& makeCounterSignature,
                              xmlNodePtr qualifyingProperties);

// The data an archive time-stamp covers, for `signature` (its ds:Signature):
// with a token, the items of that token (earlier archive time-stamps chosen by
// generation time from `tokens`); without one, the items of a new archive
// time-stamp. Throws TalApiException 89 for a structural fault.
void buildArchiveItems(xmlNodePtr signature, const ArchiveTimeStampTokens* tokens,
                       const XmlArchiveTimeStampToken* token, XmlDataItems& out);
// For tests: the items buildArchiveItems made on this thread so far.
uint64_t xmlArchiveItemsBuilt();

// Whether generation time a is strictly earlier than b: field by field from
// the year to the second, then the fractions scaled to the finer precision.
bool genTimeEarlier(const ASNgenTime& a, const ASNgenTime& b);
