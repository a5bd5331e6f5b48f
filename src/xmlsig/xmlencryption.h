// Decryption of xenc:EncryptedData elements in place: the readers of
// EncryptedData and EncryptedKey with their report lines, the choice of the
// encrypted key the user holds, the session key and the CBC content decrypted
// by whoever keeps the private key (seen through XmlDecryptionKeys: this layer
// does not see the key manager), and the plaintext parsed under the document
// guards in the place of the element.
//
// The session key and the content are unauthenticated (CBC), so the answers
// must not tell a stranger which step refused what he sent: a block that does
// not unwrap to a session key, a session key of the wrong length, bad CBC
// padding and a plaintext that does not parse all give one code and one
// report line, and the content steps run in every case. (That a stranger's
// changed content is refused at all, and how far its parse went, is still
// seen: CBC without authentication, all this format offers, cannot hide it.)
#pragma once

#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/stlptrlist.h"
#include "pki/names/dname.h"
#include "xmlsig/conv_xml.h"

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ReportStream;

// Content ciphers, numbered as the key manager numbers them.
const int32_t XMLENC_CIPHER_TDES = 1;
const int32_t XMLENC_CIPHER_AES128 = 2;
const int32_t XMLENC_CIPHER_AES192 = 3;
const int32_t XMLENC_CIPHER_AES256 = 4;

// Caps on one EncryptedData: its encrypted keys (each is read and compared)
// and the octets of one encrypted session key (RSA up to 16384 bits).
const size_t XMLENC_MAX_ENCRYPTED_KEYS = 64;
const size_t XMLENC_MAX_SESSION_KEY = 2048;

// Key-manager statuses the mapping below names.
const int32_t XMLENC_KM_NO_SESSION_KEY = 18;
const int32_t XMLENC_KM_BAD_PADDING = 10;

// The holder of the user's decryption key, as decryption uses it. Statuses
// are the key manager's; decryptSessionKey keeps the session key for the
// three content steps.
class XmlDecryptionKeys {
 public:
  virtual ~XmlDecryptionKeys() = default;
  virtual bool userCertificateKnown() const = 0;
  virtual bool isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) = 0;
  virtual int32_t decryptSessionKey(const uint8_t* encrypted, size_t length) = 0;
  virtual int32_t startContent(int32_t cipher, const uint8_t* iv, size_t ivLength) = 0;
  virtual int32_t continueContent(const uint8_t* in, size_t length, std::vector<uint8_t>& out) = 0;
  virtual int32_t finishContent(std::vector<uint8_t>& out) = 0;
};

// One xenc:EncryptedKey.
class XmlEncryptedKey {
 public:
  // 0, or 89 (100 out of memory) after its line in the report. Names are read
  // with makeDn.
  int32_t read(xmlNodePtr element, ReportStream* report, convXml::DnMakeAttribute makeDn);

  std::string algorithm;
  uint8_t hasIssuerSerial = 0;
  DistinguishedName issuer;
  ASNinteger serialNumber;
  uint8_t hasSubject = 0;
  DistinguishedName subject;
  std::vector<uint8_t> encryptedKey;
  // Certificates, issuer-serial pairs and subject names its KeyInfo gave.
  size_t keyInfoItems = 0;
};

// One xenc:EncryptedData.
class XmlEncryptedData {
 public:
  // 0, or 89 (100 out of memory) after its line in the report.
  int32_t read(xmlNodePtr element, ReportStream* report, convXml::DnMakeAttribute makeDn);

  std::string algorithm;
  ASNobjectId algorithmOid;
  int32_t cipher = 0;  // XMLENC_CIPHER_*
  StlPointerList<XmlEncryptedKey> encryptedKeys;
  std::vector<uint8_t> cipherValue;
};

// Decrypts one xenc:EncryptedData element and puts the nodes of its plaintext
// in its place; the element is freed. The caller forgets every pointer into
// the element's subtree before. 0; 89 (malformed); 95 (no encrypted key for
// the user); 77 (the session key or the content could not be decrypted, or
// the plaintext does not parse, whatever the cause); the key manager's other
// failures mapped to their codes.
int32_t decryptEncryptedData(XmlDecryptionKeys& keys, ReportStream* report, xmlNodePtr node,
                             convXml::DnMakeAttribute makeDn);
