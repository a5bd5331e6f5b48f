// The members of ReportStream (base/reportstream.h) that print the PKI
// structures: names, INTEGERs, keys and certificates. They live with the
// structures so that the base layer never includes the layers above it.
#include "base/reportstream.h"

#include "asn1/asnint.h"
#include "base/miscutils.h"
#include "pki/keys/algtext.h"
#include "pki/x509/cert.h"

#include <memory>
#include <new>
#include <stdexcept>

namespace {

// "bit" for 1; "bitów" when the last digit is not 2, 3 or 4 or the last two
// are 11 to 19; else "bity".
const char* bitsWord(unsigned long n) {
  if (n == 1) return "bit";
  const unsigned long last = n % 10, lastTwo = n % 100;
  if (last < 2 || last > 4 || (lastTwo >= 11 && lastTwo <= 19)) return "bitów";
  return "bity";
}

}  // namespace

ReportStream& ReportStream::operator<<(const DistinguishedName& name) {
  if (!accepts()) return *this;
  try {
    // already in the output character set; a stranger's controls escaped
    std::unique_ptr<char[]> dn(name.toText(static_cast<uint32_t>(options), true));
    if (dn) writeRaw(dn.get());
  } catch (const std::bad_alloc&) {
  }
  return *this;
}

void ReportStream::writeInteger(const ASNinteger& value) {
  if (accepts() && value.length > 0) writeIntegerOctets(value.data(), static_cast<size_t>(value.length));
}

void ReportStream::writeKey(const SubPubKeyInfo& key) {
  if (!accepts()) return;
  try {
    std::unique_ptr<char[]> algorithm(keyAlgorithmDescription(key, true));
    if (algorithm) writeRaw(algorithm.get());
    const unsigned long bits = key.keyBits();
    writeFormatted(" (%lu %s)", bits, bitsWord(bits));
    writeRaw("\r\n");
    writeText("Wartość klucza:   ");
    std::string hex;
    bytesToHexString(key.subjectPublicKey.bits(),
                     static_cast<size_t>(key.subjectPublicKey.bitsLength()), hex);
    writeRaw(hex);
  } catch (const std::bad_alloc&) {
  }
}

void ReportStream::writeCertificate(const SignedCertificate& certificate) {
  if (!accepts()) return;
  const TBSCertificate& tbs = certificate.tbsCertificate;
  try {
    writeRaw("--------\r\n");
    long version = 0;
    try {
      version = static_cast<long>(tbs.versionNumber()) + 1;
    } catch (const std::overflow_error&) {
      // a version of five octets or more (only a certificate built here)
    }
    writeFormatted("%s %ld\r\n", "Wersja        :", version);
    writeText("Numer seryjny :");
    writeText(" ");
    writeInteger(tbs.serialNumber);
    writeText("\r\n");
    writeText("Identyfikator wyróżniający wystawcy certyfikatu: ");
    *this << tbs.issuer;
    writeFormatted("\r\n%s", "Identyfikator wyróżniający właściciela certyfikatu:");
    *this << tbs.subject;
    const X509time& from = tbs.validity.notBefore;
    const X509time& to = tbs.validity.notAfter;
    writeFormatted(
        "\r\n%s %s  %2.2d.%2.2d.%2.2d %2.2d:%2.2d  %s  %2.2d.%2.2d.%2.2d %2.2d:%2.2d\r\n",
        "Okres ważności  : ", "od", from.year, from.month, from.day, from.hour, from.minute, "do",
        to.year, to.month, to.day, to.hour, to.minute);
    writeText("Klucz publiczny : ");
    writeText(" ");
    writeKey(tbs.subjectPublicKeyInfo);
    writeText("\r\n");
    std::string signature;
    if (appendAlgorithmDescription(signature, certificate.signatureAlgorithm, true)) {
      writeText("Algorytm podpisu: ");
      writeText(" ");
      writeText(signature);
      writeText("\r\n");
    }
    writeRaw("--------\r\n");
  } catch (const std::bad_alloc&) {
  }
}
