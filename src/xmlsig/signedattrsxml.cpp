#include "xmlsig/signedattrsxml.h"

#include "base/commonerror.h"
#include "base/miscutils.h"
#include "xmlsig/xmlconst.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const SRC = "XML/libxmlsignature/signaturepropertiesxml";

// Texts of xmlc::COMMITMENT_TYPES, in the same order.
const char* const kCommitmentTexts[] = {
    "Potwierdzenie pochodzenia (Proof of origin)",
    "Potwierdzenie otrzymania (Proof of receipt)",
    "Potwierdzenie dostarczenia (Proof of delivery)",
    "Potwierdzenie wysłania/nadania (Proof of sender)",
    "Formalne zatwierdzenie (Proof of aproval)",
    "Potwierdzenie utworzenia (Proof of creation)",
};
static_assert(sizeof kCommitmentTexts / sizeof kCommitmentTexts[0] ==
                  sizeof xmlc::COMMITMENT_TYPES / sizeof xmlc::COMMITMENT_TYPES[0],
              "one text per commitment type");

}  // namespace

SignedAttributeXml::~SignedAttributeXml() = default;

std::string SignedAttributeXmlSigningTime::describe() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

std::string SignedAttributeXmlSigningCertificate::describe() const {
  std::string hex;
  bytesToHexString(reinterpret_cast<const uint8_t*>(digest.data()), digest.size(), hex);
  return "Skrót certyfikatu: " + hex + " (HEX)";
}

const char* commitmentTypeText(const std::string& uri) {
  for (size_t i = 0; i < sizeof kCommitmentTexts / sizeof kCommitmentTexts[0]; ++i)
    if (uri == xmlc::COMMITMENT_TYPES[i])
      return kCommitmentTexts[i];
  return nullptr;
}

std::string SignedAttributeXmlCommitmentType::describe() const {
  const char* known = commitmentTypeText(uri);
  return known ? std::string(known) : uri;
}

SignedAttributesXml::SignedAttributesXml() = default;
SignedAttributesXml::~SignedAttributesXml() = default;

bool SignedAttributesXml::add(std::unique_ptr<SignedAttributeXml> record) {
  if (!record)
    return false;
  const int32_t type = record->type;
  return records.emplace(type, std::move(record)).second;
}

const SignedAttributeXml* SignedAttributesXml::find(int32_t type) const {
  auto it = records.find(type);
  return it == records.end() ? nullptr : it->second.get();
}

int32_t SignedAttributesXml::attribute(int32_t index, int32_t* type, char** text, int32_t* length) const {
  if (index < 0 || index >= count())
    return 20;
  auto it = records.begin();
  std::advance(it, index);
  const std::string described = it->second->describe();
  char* copy = new char[described.size() + 1];
  std::memcpy(copy, described.c_str(), described.size() + 1);
  if (type)
    *type = it->first;
  if (length)
    *length = int32_t(described.size() + 1);
  if (text)
    *text = copy;
  else
    delete[] copy;
  return 0;
}

const std::string* SignedAttributesXml::signingCertificateDigest() const {
  auto* r = dynamic_cast<const SignedAttributeXmlSigningCertificate*>(find(XADES_ATTR_SIGNING_CERTIFICATE));
  checkInvariant(r != nullptr, SRC, __LINE__, "signingCertificate");
  return &r->digest;
}

int32_t SignedAttributesXml::signingCertificateDigestAlgorithm() const {
  auto* r = dynamic_cast<const SignedAttributeXmlSigningCertificate*>(find(XADES_ATTR_SIGNING_CERTIFICATE));
  return r ? r->hashId : 0;
}

const ASNgenTime* SignedAttributesXml::signingTime() const {
  auto* r = dynamic_cast<const SignedAttributeXmlSigningTime*>(find(XADES_ATTR_SIGNING_TIME));
  checkInvariant(r != nullptr, SRC, __LINE__, "signingTime");
  return &r->time;
}
