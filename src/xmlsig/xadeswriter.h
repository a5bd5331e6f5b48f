// The writer that raises the XAdES form of a verified signature in its own
// document: the unsigned signature properties found or created, complete
// certificate and revocation references (C), certificate and revocation
// values (X-L) and an archive time-stamp (A), appended after what is there.
// A failed extension takes back what it created (XadesUndo), so the document
// is left as it was.
#pragma once

#include "pki/sig/sigprops.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/tree.h>

#include <cstdint>
#include <string>
#include <vector>

class BasicOCSPResponse;
class OCSPResponse;

// What an extension added to the document, taken back unless committed.
class XadesUndo {
 public:
  XadesUndo() = default;
  ~XadesUndo();
  XadesUndo(const XadesUndo&) = delete;
  XadesUndo& operator=(const XadesUndo&) = delete;

  // A new element (unlinked and freed on rollback; its children go with it).
  // When it cannot be recorded it is taken back at once and bad_alloc thrown.
  void created(xmlNodePtr element);
  // An "Id" attribute set on an element that had none (the same).
  void idSet(xmlNodePtr element);
  void commit();
  void rollback();

 private:
  std::vector<xmlNodePtr> elements;
  std::vector<xmlNodePtr> ids;
};

// The QualifyingProperties a reader of the signature reads (either XAdES
// namespace; the first element of a ds:Object child of ds:Signature), or null.
xmlNodePtr findQualifyingProperties(xmlNodePtr signature);

// The UnsignedSignatureProperties of the signature, creating what is missing:
// a ds:Object with QualifyingProperties (Target "#" and the signature's Id,
// an Id of prefix "Sgn_" set when it had none), UnsignedProperties and
// UnsignedSignatureProperties (made the first child of UnsignedProperties,
// where a reader looks). Throws TalApiException 89 when one stands elsewhere
// there or the signature is of the 1.1.1 form (it takes none of these properties).
xmlNodePtr findOrCreateUnsignedSignatureProperties(XmlUniqueIds& ids, xmlNodePtr signature,
                                                   XadesUndo& undo);
// The same when QualifyingProperties must be there already (89 otherwise).
xmlNodePtr unsignedSignaturePropertiesOfExisting(xmlNodePtr signature, XadesUndo& undo);

// The DER of the successful OCSPResponse (id-pkix-ocsp-basic) carrying
// `basic`: what an XAdES reference digests and a value holds. False when it
// cannot be encoded.
bool wrapBasicOcspResponse(const BasicOCSPResponse& basic, std::vector<unsigned char>& der);
bool wrapBasicOcspResponse(const BasicOCSPResponse& basic, OCSPResponse& whole);

// CompleteCertificateRefs and CompleteRevocationRefs over the collected data
// (the path's lists, then the others'; an item met twice is written once),
// digests with hash `hashId`. 89 when either element or an archive
// time-stamp is there already (nothing written), 137 for a hash without a digest-method URI, 100 for a
// value that cannot be encoded; thrown as TalApiException.
void writeCompleteRefs(xmlNodePtr usp, XmlUniqueIds& ids, uint32_t hashId, const ValidationData& data,
                       XadesUndo& undo);
// CertificateValues (`signerFirst` first when given, then the collected
// certificates, each certificate once) and RevocationValues; 89 when either
// or an archive time-stamp is there already (nothing written), 100 for an encoding failure.
void writeValues(xmlNodePtr usp, XmlUniqueIds& ids, const SignedCertificate* signerFirst,
                 const ValidationData& data, XadesUndo& undo);
// ArchiveTimeStamp with its EncapsulatedTimeStamp (no canonicalisation
// method, no Encoding): 100 when the token cannot be encoded.
void writeArchiveTimeStamp(xmlNodePtr usp, XmlUniqueIds& ids, const TimeStampToken& token, XadesUndo& undo);
