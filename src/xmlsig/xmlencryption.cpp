#include "xmlsig/xmlencryption.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "pki/common/oids.h"
#include "xmlsig/xmlcodes.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlsigparser.h"
#include "xmlsig/xmlwalk.h"

#include <libxml/valid.h>

#include <algorithm>
#include <memory>
#include <new>

namespace {

const char* const SRC = "XML/libxmlsignature/xmlencryption";

const char* const MSG_PREFIX = "Błąd podczas odbezpieczania wiadomości: ";
const char* const MSG_NO_METHOD = "błędny format XML (brak elementu xenc:EncryptionMethod).\r\n";
const char* const MSG_NO_ALGORITHM =
    "błędny format XML (element xenc:EncryptionMethod brak atrybutu Algorithm).\r\n";
const char* const MSG_UNKNOWN_SYMMETRIC =
    "błędny format XML (element xenc:EncryptionMethod atrybut Algorithm: nieznany algorytm "
    "szyfrowania symetrycznego).\r\n";
const char* const MSG_UNKNOWN_ASYMMETRIC =
    "błędny format XML (element xenc:EncryptionMethod atrybut Algorithm: nieznany algorytm "
    "szyfrowania asymetrycznego).\r\n";
const char* const MSG_NO_KEY_INFO = "błędny format XML (brak elementu ds:KeyInfo).\r\n";
const char* const MSG_NO_ENCRYPTED_KEY = "błędny format XML (brak elementu xenc:EncryptedKey).\r\n";
const char* const MSG_KEY_SYNTAX =
    "błędny format XML (błędna składnia elementu xenc:EncryptedKey).\r\n";
const char* const MSG_NO_CIPHER_DATA = "błędny format XML (brak elementu xenc:CipherData).\r\n";
const char* const MSG_NO_CIPHER_VALUE = "błędny format XML (brak elementu xenc:CipherValue).\r\n";
const char* const MSG_CIPHER_DATA = "błędny format XML (element xenc:CipherData).\r\n";

const char* const MSG_RECIPIENT = "Dane o adresacie %d: \r\n";
const char* const MSG_NO_RECIPIENT =
    "Żaden z adresatów wiadomości nie odpowiada aktualnemu certyfikatowi użytkownika";
const char* const MSG_RECIPIENT_FOUND =
    "Certyfikat adresata odpowiada aktualnemu certyfikatowi użytkownika";
const char* const MSG_KEY_DECRYPTED = "Klucz sesyjny został poprawnie odszyfrowany";
const char* const MSG_KEY_FAILED = "Odszyfrowanie klucza sesyjnego nie powiodło się";

// A cipher value is decoded from base64 of at most a document's size.
const size_t MAX_CIPHER_VALUE = XML_MAX_DOCUMENT_SIZE;
// The content goes to the key manager in pieces of this size.
const size_t CONTENT_PIECE = 1u << 20;

struct CipherRow {
  std::string_view uri;
  int32_t cipher;
  const ASNobjectId* oid;
  size_t block;
};
const CipherRow CIPHERS[] = {
    {xmlc::ENC_TRIPLEDES_CBC, XMLENC_CIPHER_TDES, &des_ede3_cbc, 8},
    {xmlc::ENC_AES128_CBC, XMLENC_CIPHER_AES128, &id_aes128_CBC, 16},
    {xmlc::ENC_AES192_CBC, XMLENC_CIPHER_AES192, &id_aes192_CBC, 16},
    {xmlc::ENC_AES256_CBC, XMLENC_CIPHER_AES256, &id_aes256_CBC, 16},
};

const CipherRow* cipherOf(const std::string& uri) {
  for (const CipherRow& row : CIPHERS)
    if (row.uri == uri) return &row;
  return nullptr;
}

// Status-to-code tables; a status no row names is a failed invariant at the
// step's line. UNIFIED stands for the one answer of a key or padding failure.
const int32_t UNIFIED = -1;
struct StatusRow {
  int32_t status;
  int32_t code;
};
const StatusRow SESSION_KEY_CODES[] = {
    {1, xmlrc::INV_PAR},   {2, xmlrc::INV_WRK_MODE}, {4, xmlrc::MEM},
    {13, xmlrc::PASSWORD}, {14, xmlrc::RSA},         {18, UNIFIED},
    {25, xmlrc::CRD_COM},  {27, xmlrc::CRD_BLOCKED}, {37, xmlrc::KEY_NOT_FOUND}};
const StatusRow START_CODES[] = {{2, xmlrc::INV_WRK_MODE}, {18, UNIFIED}, {20, xmlrc::OST}};
const StatusRow CONTINUE_CODES[] = {{2, xmlrc::INV_WRK_MODE},
                                    {9, xmlrc::RD_INFILE},
                                    {11, xmlrc::WR_OUTFILE},
                                    {18, UNIFIED},
                                    {20, xmlrc::OST}};
// Bad padding answers as an undecryptable session key does (no padding oracle).
const StatusRow FINISH_CODES[] = {{2, xmlrc::INV_WRK_MODE},
                                  {XMLENC_KM_BAD_PADDING, UNIFIED},
                                  {11, xmlrc::WR_OUTFILE},
                                  {18, UNIFIED},
                                  {20, xmlrc::OST}};

template <size_t N>
int32_t codeOf(const StatusRow (&rows)[N], int32_t status, int line) {
  if (status == 0) return 0;
  for (const StatusRow& row : rows)
    if (row.status == status) return row.code;
  checkInvariant(false, SRC, line, "0");
  return 0;
}

using xmlwalk::isIn;
using xmlwalk::nextElement;
using xmlwalk::propOf;
bool isXenc(xmlNodePtr n, std::string_view name) { return isIn(n, name, xmlc::NS_XENC); }
bool isDs(xmlNodePtr n, std::string_view name) { return isIn(n, name, xmlc::NS_DSIG); }

// A reader's failure: its line after the prefix, and the code.
class Fault {
 public:
  explicit Fault(ReportStream* report) : report(report) {}
  int32_t operator()(const char* message, int32_t code = xmlrc::INV_MSG) const {
    if (report) *report << MSG_PREFIX << message;
    return code;
  }

 private:
  ReportStream* report;
};

// The algorithm of the first element child, an xenc:EncryptionMethod: 0, or the fault's code.
int32_t readMethod(xmlNodePtr first, const Fault& fault, std::string& algorithm) {
  if (!isXenc(first, xmlc::XENC_ENCRYPTION_METHOD)) return fault(MSG_NO_METHOD);
  if (!propOf(first, "Algorithm", algorithm)) return fault(MSG_NO_ALGORITHM);
  return 0;
}

// The octets of CipherData's first element child, an xenc:CipherValue, at most max of them.
int32_t readCipherData(xmlNodePtr cipherData, const Fault& fault, size_t max,
                       std::vector<uint8_t>& out) {
  if (!isXenc(cipherData, xmlc::XENC_CIPHER_DATA)) return fault(MSG_NO_CIPHER_DATA);
  xmlNodePtr value = firstElement(cipherData->children);
  if (!isXenc(value, xmlc::XENC_CIPHER_VALUE)) return fault(MSG_NO_CIPHER_VALUE);
  std::string decoded;
  if (!xmlDecodeBase64(nodeTextContent(value), decoded, max)) return fault(MSG_CIPHER_DATA);
  out.assign(decoded.begin(), decoded.end());
  return 0;
}

// Wipes a buffer of plaintext when it goes, and before it is emptied for reuse
// (clear keeps the octets in the buffer).
struct Wiped {
  std::vector<uint8_t>& bytes;
  ~Wiped() { zeroizeMemory(bytes.data(), bytes.size()); }
  void clear() {
    zeroizeMemory(bytes.data(), bytes.size());
    bytes.clear();
  }
};

// The three content steps: 0 with the plaintext, or a mapped code (UNIFIED included).
int32_t decryptContent(XmlDecryptionKeys& keys, const XmlEncryptedData& data, size_t block,
                       std::vector<uint8_t>& plain) {
  const std::vector<uint8_t>& in = data.cipherValue;
  int32_t code = codeOf(START_CODES, keys.startContent(data.cipher, in.data(), block), 266);
  if (code != 0) return code;
  // Never more plaintext than cipher text: no copy of it is left behind by growth.
  plain.reserve(in.size());
  // Room for the most one step gives back (a block held back from the step
  // before, the piece, a part block): the buffer never grows, which would free
  // a copy unwiped.
  std::vector<uint8_t> piece;
  piece.reserve(std::min(CONTENT_PIECE, in.size()) + 2 * block);
  Wiped wipePiece{piece};
  for (size_t at = block; at < in.size(); at += CONTENT_PIECE) {
    wipePiece.clear();
    const size_t n = std::min(CONTENT_PIECE, in.size() - at);
    code = codeOf(CONTINUE_CODES, keys.continueContent(in.data() + at, n, piece), 279);
    if (code != 0) return code;
    plain.insert(plain.end(), piece.begin(), piece.end());
  }
  wipePiece.clear();
  code = codeOf(FINISH_CODES, keys.finishContent(piece), 293);
  if (code != 0) return code;
  plain.insert(plain.end(), piece.begin(), piece.end());
  return 0;
}

// The nodes of list before node, in order, then node unlinked and freed. The
// elements put there are returned. False when libxml2 could not insert (the
// rest of the list is freed, node stays).
bool replaceNode(xmlNodePtr node, xmlNodePtr list, std::vector<xmlNodePtr>& elements) {
  for (xmlNodePtr n = list; n;) {
    xmlNodePtr next = n->next;
    bool element = n->type == XML_ELEMENT_NODE;
    // A text node may be merged into a text before node (and freed).
    if (!xmlAddPrevSibling(node, n)) {
      xmlUnlinkNode(n);
      xmlFreeNode(n);
      xmlFreeNodeList(next);
      return false;
    }
    if (element) elements.push_back(n);
    n = next;
  }
  xmlUnlinkNode(node);
  xmlFreeNode(node);
  return true;
}

// Registers the Ids of the subtree of top that a document's own parse
// registers (xml:id, attributes the DTD declares of type ID) and the in-context
// parse leaves out, each unless the document has an Id of that value already.
void registerParsedIds(xmlNodePtr top) {
  for (xmlNodePtr n = top; n;) {
    if (n->type == XML_ELEMENT_NODE) {
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        if (a->atype == XML_ATTRIBUTE_ID || !xmlIsID(n->doc, n, a)) continue;
        xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
        if (value && *value && !xmlGetID(n->doc, value)) xmlAddID(nullptr, n->doc, value, a);
        xmlFree(value);
      }
    }
    // Depth first within top; the tree's depth was bounded by the parse.
    if (n->type == XML_ELEMENT_NODE && n->children) {
      n = n->children;
      continue;
    }
    while (n != top && !n->next) n = n->parent;
    n = n == top ? nullptr : n->next;
  }
}

}  // namespace

int32_t XmlEncryptedKey::read(xmlNodePtr element, ReportStream* report,
                              convXml::DnMakeAttribute makeDn) {
  Fault fault(report);
  xmlNodePtr n = firstElement(element->children);
  int32_t rc = readMethod(n, fault, algorithm);
  if (rc != 0) return rc;
  if (algorithm != xmlc::ENC_RSA_1_5) return fault(MSG_UNKNOWN_ASYMMETRIC);
  n = nextElement(n);
  if (!isDs(n, xmlc::DS_KEY_INFO)) return fault(MSG_KEY_SYNTAX);
  XmlSigParser keyInfo(xmlDocGetRootElement(element->doc), {});
  keyInfo.makeDnAttribute = makeDn;
  rc = keyInfo.readKeyInfoElement(report, n, MSG_PREFIX);
  if (rc != 0) return rc;
  if (!keyInfo.issuerSerials.items.empty()) {
    const XmlIssuerSerial& named = *keyInfo.issuerSerials.items.front();
    issuer = named.issuer;
    serialNumber = named.serialNumber;
    hasIssuerSerial = 1;
  } else if (!keyInfo.certificates.items.empty()) {
    const auto& tbs = keyInfo.certificates.items.front()->tbsCertificate;
    issuer = tbs.issuer;
    serialNumber = tbs.serialNumber;
    hasIssuerSerial = 1;
  }
  // The subject only describes the recipient: a name that does not read is left out.
  keyInfoItems = keyInfo.certificates.items.size() + keyInfo.issuerSerials.items.size() +
                 keyInfo.subjectNames.size();
  if (!keyInfo.subjectNames.empty()) {
    try {
      convXml::parseDN(keyInfo.subjectNames.front(), subject, makeDn);
      hasSubject = 1;
    } catch (const TalApiException&) {
    }
  }
  return readCipherData(nextElement(n), fault, XMLENC_MAX_SESSION_KEY, encryptedKey);
}

int32_t XmlEncryptedData::read(xmlNodePtr element, ReportStream* report,
                               convXml::DnMakeAttribute makeDn) {
  Fault fault(report);
  xmlNodePtr n = firstElement(element->children);
  int32_t rc = readMethod(n, fault, algorithm);
  if (rc != 0) return rc;
  const CipherRow* row = cipherOf(algorithm);
  if (!row) return fault(MSG_UNKNOWN_SYMMETRIC);
  algorithmOid = *row->oid;
  cipher = row->cipher;
  n = nextElement(n);
  if (!isDs(n, xmlc::DS_KEY_INFO)) return fault(MSG_NO_KEY_INFO);
  // The keys together name no more than one signature's KeyInfo may: a token
  // reference costs a walk of the whole document.
  size_t items = 0;
  for (xmlNodePtr k = firstElement(n->children); k; k = nextElement(k)) {
    if (!isXenc(k, xmlc::XENC_ENCRYPTED_KEY)) continue;
    if (encryptedKeys.items.size() >= XMLENC_MAX_ENCRYPTED_KEYS) return fault(MSG_KEY_SYNTAX);
    auto key = std::make_unique<XmlEncryptedKey>();
    rc = key->read(k, report, makeDn);
    if (rc != 0) return rc;
    items += key->keyInfoItems;
    if (items > XMLSIG_MAX_KEYINFO_ITEMS) return fault(MSG_KEY_SYNTAX);
    encryptedKeys.adopt(std::move(key));
  }
  if (encryptedKeys.items.empty()) return fault(MSG_NO_ENCRYPTED_KEY);
  rc = readCipherData(nextElement(n), fault, MAX_CIPHER_VALUE, cipherValue);
  if (rc != 0) return rc;
  // The value starts with the IV, one block.
  if (cipherValue.size() < row->block) return fault(MSG_CIPHER_DATA);
  return 0;
}

int32_t decryptEncryptedData(XmlDecryptionKeys& keys, ReportStream* report, xmlNodePtr node,
                             convXml::DnMakeAttribute makeDn) {
  if (!node || !node->doc || !node->parent || !makeDn) return xmlrc::INV_PAR;
  ReportStream none;
  ReportStream& out = report ? *report : none;
  try {
    registerIdAttributes(node);
    XmlEncryptedData data;
    int32_t rc = data.read(node, &out, makeDn);
    if (rc != 0) return rc;
    checkInvariant(!data.encryptedKeys.items.empty(), SRC, 77, "encryptedKeys.size() != 0");
    checkInvariant(keys.userCertificateKnown(), SRC, 88, "userDN != NULL");

    XmlEncryptedKey* chosen = nullptr;
    int number = 0;
    for (XmlEncryptedKey* key : data.encryptedKeys.items) {
      out.writeFormatted(MSG_RECIPIENT, ++number);
      if (!key->hasIssuerSerial) continue;
      out << "Wystawiony przez: \"" << key->issuer << "\"\r\n"
          << "Numer seryjny: ";
      out.writeInteger(key->serialNumber);
      out << "\r\n\r\n";
      if (!chosen && keys.isRecipient(key->issuer, key->serialNumber)) chosen = key;
    }
    if (!chosen) {
      out << MSG_NO_RECIPIENT << "\r\n\r\n";
      return xmlrc::NOTADDR;
    }
    out << MSG_RECIPIENT_FOUND << "\r\n\r\n";

    // A block that gives no session key goes on to the content steps as a
    // good one does (they fail then), so that it answers as bad padding does.
    int32_t code = codeOf(
        SESSION_KEY_CODES,
        keys.decryptSessionKey(chosen->encryptedKey.data(), chosen->encryptedKey.size()), 190);
    const bool unwrapped = code == 0;
    if (code != 0 && code != UNIFIED) {
      out << MSG_KEY_FAILED << "\r\n\r\n";
      return code;
    }
    std::vector<uint8_t> plain;
    Wiped wipePlain{plain};
    code = decryptContent(keys, data, cipherOf(data.algorithm)->block, plain);
    if (code == 0 && !unwrapped) code = UNIFIED;
    // The content is not authenticated: a changed cipher value whose padding
    // happens to be good gives a plaintext that does not parse. Were that
    // answered apart from bad padding, the answers would tell the padding.
    // The parsed nodes are freed unless they take the element's place.
    struct ParsedNodes {
      xmlNodePtr head = nullptr;
      ~ParsedNodes() { xmlFreeNodeList(head); }
    } parsed;
    if (code == 0 &&
        xmlSafeParseInNodeContext(node->parent, plain.data(), plain.size(), &parsed.head) != 0)
      code = UNIFIED;
    if (code == UNIFIED) {
      out << MSG_KEY_FAILED << "\r\n\r\n";
      return xmlrc::DEKKEY;
    }
    if (code != 0) return code;
    out << MSG_KEY_DECRYPTED << "\r\n\r\n";
    // Room for every element first: once the nodes go in, nothing may fail.
    std::vector<xmlNodePtr> elements;
    size_t count = 0;
    for (xmlNodePtr n = parsed.head; n; n = n->next) count += n->type == XML_ELEMENT_NODE;
    elements.reserve(count);
    xmlNodePtr list = parsed.head;
    parsed.head = nullptr;
    if (!replaceNode(node, list, elements)) return xmlrc::MEM;
    // After the element is gone: an Id of the plaintext that it held too is
    // registered for the new element.
    for (xmlNodePtr e : elements) {
      registerParsedIds(e);
      registerIdAttributes(e);
    }
    return 0;
  } catch (const TalApiException& e) {
    return e.getCode();
  } catch (const std::bad_alloc&) {
    return xmlrc::MEM;
  }
}
