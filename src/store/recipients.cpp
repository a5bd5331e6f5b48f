// Recipient certificate search.
#include "store/recipients.h"

#include "base/commonerror.h"
#include "base/reportstream.h"
#include "store/certmgr.h"
#include "store/crtstore.h"
#include "store/dnutils.h"
#include "store/pathbuild.h"
#include "store/pathverify.h"

#include <cstring>
#include <new>

namespace {

const char* const SRC = "SRC/talmisc";

// Descriptor kinds.
enum { KIND_FIELDS = 2, KIND_DER_NAME = 3, KIND_CERTIFICATE = 4, KIND_ISSUER_SUBJECT = 5,
       KIND_TEXT_NAME = 6 };
// Of one kind-2 value only this many bytes are used.
constexpr size_t MAX_FIELD_VALUE = 129;
// Name texts of kinds 5 and 6: escapes, quoted values, "#" DER values and
// the "," and ";" separators.
constexpr uint32_t NAME_TEXT_FLAGS = 0x3 | 0x8 | 0x20 | 0x800 | 0x1000;

uint32_t readLength(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A DER value that must take exactly `length` bytes; `flags` as decode's.
template <class T>
bool decodeExactly(T& out, const uint8_t* data, uint32_t length, unsigned char flags = 0) {
  if (length == 0 || length > 0x7fffffffu) return false;
  return out.decodeBuffer(data, static_cast<int>(length), flags) == static_cast<int>(length);
}

bool nameFromText(DistinguishedName& out, const uint8_t* text, uint32_t length) {
  if (length == 0 || length > 0x7fffffffu) return false;
  return out.fromText(reinterpret_cast<const char*>(text), static_cast<int>(length),
                      NAME_TEXT_FLAGS);
}

// A lookup answer as a search result: -1 found, 1 nothing, else the code.
int lookupResult(int r) {
  if (r == 0) return -1;
  if (r == CRTSTORE_NOT_FOUND) return 1;
  if (r == 1) return RECIP_NO_MEMORY;
  if (r == 2) return RECIP_DATABASE_ERROR;
  return r;
}

int itemCheckResult(uint32_t wwc) {
  switch (wwc) {
    case WWC_UNCHECKED:
    case WWC_REVOKED: return RECIP_REVOKED;
    case WWC_EXPIRED: return RECIP_EXPIRED;
    case WWC_NOT_YET_VALID: return RECIP_NOT_YET_VALID;
    case WWC_SUSPENDED: return RECIP_SUSPENDED;
    default: return RECIP_PATH_ERROR;
  }
}

int verifyResult(int r, const CertificatePath& path) {
  switch (r) {
    case PATH_RESULT_OK: return RECIP_OK;
    case 1: return RECIP_NO_MEMORY;
    case 2: return RECIP_DATABASE_ERROR;
    case 9: return RECIP_DEVICE_ERROR;
    // A verification that found no path, or failed otherwise, never
    // passes as a valid recipient certificate.
    case PATH_RESULT_NO_PATH: return RECIP_NO_PATH;
    case PATH_RESULT_FAILED:
      break;
    default: return RECIP_PATH_ERROR;
  }
  for (POSITION pos = path.GetHeadPosition(); pos;) {
    const CertificateItem* item = path.GetNext(pos);
    if (item->wwc != WWC_OK) return itemCheckResult(item->wwc);
  }
  if (path.policyResult == 1) return RECIP_NO_POLICY;
  return RECIP_PATH_ERROR;
}

bool isRefusal(int r) {
  return r == RECIP_EXPIRED || r == RECIP_NOT_YET_VALID || r == RECIP_NO_PATH ||
         r == RECIP_REVOKED || r == RECIP_SUSPENDED || r == RECIP_NO_POLICY ||
         r == RECIP_PATH_ERROR;
}

bool listHolds(const CertificateList& list, const SignedCertificate& cert) {
  for (POSITION pos = list.GetHeadPosition(); pos;)
    if (*list.GetNext(pos) == cert) return true;
  return false;
}

bool hasPathFor(const RecipientPaths& paths, const SignedCertificate& cert) {
  for (const std::unique_ptr<CertificatePath>& p : paths)
    if (p->GetHead() && p->GetHead()->certificate == cert) return true;
  return false;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void writeWarning(ReportStream& report, const char* message, const DistinguishedName& subject) {
  report << message << " - " << "ostrzeżenie o ścieżce zbudowanej dla:" << " " << subject
         << "\r\n";
}

}  // namespace

int parseRecipientDescriptor(const uint8_t* data, size_t size, RecipientDescriptor& out) {
  if (!data || size < 2 || data[0] != 0) return RECIP_BAD_PARAMETER;
  out.kind = data[1];
  try {
    switch (out.kind) {
      case KIND_FIELDS: {
        size_t at = 2;
        for (;;) {
          if (at >= size) return RECIP_BAD_PARAMETER;
          const char code = static_cast<char>(data[at]);
          if (code == 0) break;
          if (size - at < 2 || size - at - 2 < data[at + 1]) return RECIP_BAD_PARAMETER;
          const size_t length = data[at + 1];
          const size_t used = length < MAX_FIELD_VALUE ? length : MAX_FIELD_VALUE;
          const int r = makeDnAttribute(out.subject, code,
                                        reinterpret_cast<const char*>(data + at + 2),
                                        static_cast<int>(used), 0, false);
          if (r != 0) return RECIP_BAD_PARAMETER;
          at += length + 2;
        }
        // The closing code byte is the first byte of the next descriptor.
        out.consumed = at;
        return RECIP_OK;
      }
      case KIND_DER_NAME:
      case KIND_CERTIFICATE:
      case KIND_TEXT_NAME: {
        if (size < 6) return RECIP_BAD_PARAMETER;
        const uint32_t length = readLength(data + 2);
        if (size - 6 < length) return RECIP_BAD_PARAMETER;
        bool ok;
        if (out.kind == KIND_DER_NAME) {
          ok = decodeExactly(out.subject, data + 6, length);
        } else if (out.kind == KIND_CERTIFICATE) {
          out.certificate.reset(new SignedCertificate);
          // In place over a private copy: its signature is checked over the
          // octets given, DER or not, never over a re-encoding.
          ok = decodeExactly(*out.certificate, data + 6, length, ASN_FLAG_CONST | ASN_FLAG_COPY);
        } else {
          ok = nameFromText(out.subject, data + 6, length);
        }
        if (!ok) return RECIP_BAD_PARAMETER;
        out.consumed = size_t(length) + 6;
        return RECIP_OK;
      }
      case KIND_ISSUER_SUBJECT: {
        if (size < 10) return RECIP_BAD_PARAMETER;
        const uint32_t issuerLength = readLength(data + 2);
        const uint32_t subjectLength = readLength(data + 6);
        if (size - 10 < issuerLength || size - 10 - issuerLength < subjectLength)
          return RECIP_BAD_PARAMETER;
        if (!nameFromText(out.issuer, data + 10, issuerLength) ||
            !nameFromText(out.subject, data + 10 + issuerLength, subjectLength))
          return RECIP_BAD_PARAMETER;
        out.consumed = size_t(issuerLength) + subjectLength + 10;
        return RECIP_OK;
      }
      default:
        return RECIP_BAD_PARAMETER;
    }
  } catch (const std::bad_alloc&) {
    return RECIP_NO_MEMORY;
  }
}

int splitRecipientAddresses(const char* text, size_t size, std::vector<std::string>& out) {
  size_t at = 0;
  while (at < size && text[at] != 0) {
    size_t end = at;
    while (end < size && text[end] != 0 && text[end] != ',') ++end;
    size_t first = at, last = end;
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    if (last - first > MAX_RECIPIENT_ADDRESS) return RECIP_BAD_PARAMETER;
    if (last > first) out.emplace_back(text + first, last - first);
    at = end < size && text[end] == ',' ? end + 1 : end;
  }
  return RECIP_OK;
}

int buildRecipientCertificatePath(RecipientContext& context, const SignedCertificate& certificate,
                                  CertificatePath& path) {
  context.report() << "Budowa scieżki certyfikacji dla certyfikatu:\r\n";
  int r = context.buildPath(path, certificate);
  switch (r) {
    case PATH_BUILT: break;
    case PATH_SIGNATURE_MISMATCH: return RECIP_NO_MEMORY;
    case PATH_DATABASE_FAILED: return RECIP_DATABASE_ERROR;
    case PATH_NOT_FOUND: return RECIP_NO_PATH;
    default: return r;
  }
  return verifyResult(context.verifyPath(path), path);
}

int buildRecipientPath(RecipientContext& context, const CertificateList& candidates,
                       RecipientPaths& paths) {
  ReportStream& report = context.report();
  bool kept = false;
  for (POSITION pos = candidates.GetHeadPosition(); pos;) {
    const SignedCertificate* candidate = candidates.GetNext(pos);
    // Several stores, or the network and a store, may give the same
    // certificate: it keeps the one path it has.
    if (hasPathFor(paths, *candidate)) {
      kept = true;
      continue;
    }
    std::unique_ptr<CertificatePath> path(new CertificatePath);
    const int r = buildRecipientCertificatePath(context, *candidate, *path);
    if (r == RECIP_OK) {
      paths.push_back(std::move(path));
      kept = true;
      report << "Certyfikat korespondenta jest ważny.\r\n\r\n";
    } else if (isRefusal(r)) {
      report << "Certyfikat korespondenta jest nieważny: " << long(r) << ".\r\n\r\n";
    } else {
      report << "Błąd funkcji buildRecipientPath: " << long(r) << ".\r\n\r\n";
      return r;
    }
  }
  return kept ? RECIP_OK : RECIP_NO_VALID_CERTIFICATE;
}

int searchNetworkCertificates(RecipientContext& context, const char* address,
                              const DistinguishedName& subject, CertificateList& out) {
  checkInvariant(address != nullptr, SRC, __LINE__, "address != NULL");
  ReportStream& report = context.report();
  report << "Szukam certyfikatów na serwerze sieciowym\r\n";
  std::vector<std::string> all, bases;
  context.certificateServerBases(all);
  for (const std::string& base : all) {
    bool seen = false;
    // Base DNs compare as the network manager matches them: ASCII case aside.
    for (const std::string& b : bases) seen = seen || sameEmailAddress(b, base.c_str());
    if (!seen) bases.push_back(base);
  }
  for (const std::string& base : bases) {
    report << "Szukam certyfikatu w sieciowej bazie danych:\r\n\t" << base.c_str() << "\r\n";
    FetchedCertificates fetched;
    const int r = address[0] != 0
                      ? context.queryByEmail(base, address, fetched,
                                             context.option(RECIP_OPT_QUERY_PARAMETER))
                      : context.queryByDn(subject, fetched);
    if (r == 1) return 1;
    if (r != 0) continue;
    report << "Certyfikaty pobrane. Liczba: " << static_cast<unsigned long>(fetched.size())
           << "\r\n";
    for (const std::unique_ptr<SignedCertificate>& c : fetched) {
      if (listHolds(out, *c)) {
        report << "Pobrany certyfikat jest już na liście. Numer seryjny: ";
        report.writeInteger(c->tbsCertificate.serialNumber);
        report << "\r\n";
      } else if (!appendCopy(out, *c)) {
        return 1;
      }
    }
  }
  return 0;
}

int findRecipientCertificates(RecipientContext& context, const uint8_t* data, size_t size,
                              RecipientPaths& paths, size_t* bytesRead) {
  if (!data || size == 0) return RECIP_BAD_PARAMETER;
  checkInvariant(!(data[0] != 0 && bytesRead != nullptr), SRC, __LINE__,
                 "!(address[0] != 0 && bytesRead != NULL)");
  ReportStream& report = context.report();
  CertificateManager& manager = context.certificates();
  std::string address;
  RecipientDescriptor descriptor;
  CertificateList candidates;
  int found;
  try {
    if (data[0] != 0) {
      const void* end = std::memchr(data, 0, size);
      address.assign(reinterpret_cast<const char*>(data),
                     end ? static_cast<const uint8_t*>(end) - data : size);
      report << "Szukam certyfikatu klucza szyfrującego dla adresu sieciowego: " << address.c_str()
             << "\r\n";
      found = lookupResult(manager.findByEmail(candidates, address.c_str(), true, false));
      report << "Liczba certyfikatów znaleziona w lokalnej bazie danych: "
             << long(candidates.GetCount()) << "\r\n";
    } else {
      const int r = parseRecipientDescriptor(data, size, descriptor);
      if (r != RECIP_OK) return r;
      if (bytesRead) *bytesRead = descriptor.consumed;
      if (descriptor.kind == KIND_CERTIFICATE) {
        if (!appendCopy(candidates, *descriptor.certificate)) return RECIP_NO_MEMORY;
        found = -1;
      } else {
        report << "Szukam certyfikatu klucza szyfrującego dla użytkownika:\r\n"
               << descriptor.subject << "\r\n";
        found = lookupResult(manager.findInStores(
            candidates, descriptor.subject,
            descriptor.kind == KIND_ISSUER_SUBJECT ? &descriptor.issuer : nullptr, true, false));
      }
    }
    if (found > 1) return found;

    bool valid = false;
    if (found < 0 && candidates.GetCount() > 0) {
      const int r = buildRecipientPath(context, candidates, paths);
      if (r != RECIP_OK && r != RECIP_NO_VALID_CERTIFICATE) return r;
      valid = r == RECIP_OK;
    }

    bool network = !valid;
    if (valid && !address.empty()) {
      const int32_t interval = context.option(RECIP_OPT_SEARCH_INTERVAL);
      // Compared by subtraction: a time the database holds cannot overflow.
      network = interval > 0 && context.lastNetworkSearch(address) < context.now() - interval;
    }
    // A certificate given in the descriptor is the only candidate.
    if (network && descriptor.kind != KIND_CERTIFICATE &&
        context.option(RECIP_OPT_NETWORK_SEARCH) != 0) {
      CertificateList fetched;
      const int r = searchNetworkCertificates(context, address.c_str(), descriptor.subject, fetched);
      if (r == 1) return RECIP_NO_MEMORY;
      if (r != 0) return r;
      if (!address.empty() && context.option(RECIP_OPT_SEARCH_INTERVAL) >= 1 &&
          context.option(RECIP_OPT_NO_SEARCH_RECORD) == 0)
        context.recordNetworkSearch(address);
      CertificateList kept;
      for (POSITION pos = fetched.GetHeadPosition(); pos;) {
        const SignedCertificate* c = fetched.GetNext(pos);
        if (descriptor.kind == KIND_ISSUER_SUBJECT &&
            !(c->tbsCertificate.issuer == descriptor.issuer))
          continue;
        context.rememberCertificate(*c);
        if (!appendCopy(kept, *c)) return RECIP_NO_MEMORY;
      }
      report << "Certyfikaty poprawnie pobrane\r\n";
      const int b = buildRecipientPath(context, kept, paths);
      if (b != RECIP_OK && b != RECIP_NO_VALID_CERTIFICATE) return b;
      valid = valid || b == RECIP_OK;
    }
    if (valid) return RECIP_OK;
    if (!address.empty())
      report << "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla adresu sieciowego "
             << address.c_str() << "\r\n";
    else
      report << "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla danego użytkownika\r\n";
    return RECIP_NO_VALID_CERTIFICATE;
  } catch (const std::bad_alloc&) {
    return RECIP_NO_MEMORY;
  }
}

int findAllRecipientCertificates(std::vector<RecipientPaths>& out, const uint8_t* recipients,
                                 size_t size, RecipientContext& context) {
  out.clear();
  int result = RECIP_OK;
  size_t total = 0;
  // One recipient's search; false when the run ends with `result`.
  auto run = [&](const uint8_t* data, size_t length, size_t* bytesRead) {
    RecipientPaths paths;
    const int r = findRecipientCertificates(context, data, length, paths, bytesRead);
    if (r > RECIP_WARNINGS) {
      // Out of memory, or a descriptor whose end is unknown, ends the run
      // whatever option 30 says.
      if (context.option(RECIP_OPT_SKIP_FAILED) == 0 || r == RECIP_NO_MEMORY ||
          (bytesRead && *bytesRead == 0)) {
        result = r;
        return false;
      }
      context.warningFlags() |= RECIP_WARN_SKIPPED;
      result = RECIP_WARNINGS;
    }
    total += paths.size();
    out.push_back(std::move(paths));
    return true;
  };
  try {
    if (!recipients || size == 0) return RECIP_NO_VALID_CERTIFICATE;
    if (recipients[0] != 0) {
      std::vector<std::string> addresses;
      const int r = splitRecipientAddresses(reinterpret_cast<const char*>(recipients), size,
                                            addresses);
      if (r != RECIP_OK) return r;
      for (const std::string& a : addresses)
        if (!run(reinterpret_cast<const uint8_t*>(a.c_str()), a.size() + 1, nullptr)) break;
    } else {
      size_t at = 0;
      for (;;) {
        // The run must end with its closing descriptor.
        if (size - at < 2 || recipients[at] != 0) {
          result = RECIP_BAD_PARAMETER;
          break;
        }
        if (recipients[at + 1] == 0) break;
        size_t used = 0;
        if (!run(recipients + at, size - at, &used)) break;
        at += used;
      }
    }
  } catch (const std::bad_alloc&) {
    result = RECIP_NO_MEMORY;
  }
  if (result > RECIP_WARNINGS) {
    out.clear();
    return result;
  }
  if (total == 0) return RECIP_NO_VALID_CERTIFICATE;
  pathWarnings(out, context);
  return result;
}

void pathWarnings(const std::vector<RecipientPaths>& paths, RecipientContext& context) {
  ReportStream& report = context.report();
  uint32_t& flags = context.warningFlags();
  for (const RecipientPaths& list : paths) {
    for (const std::unique_ptr<CertificatePath>& path : list) {
      const CertificateItem* end = path->GetHead();
      if (!end) continue;
      const DistinguishedName& subject = end->certificate->tbsCertificate.subject;
      for (POSITION pos = path->GetHeadPosition(); pos;) {
        const CertificateItem* item = path->GetNext(pos);
        const bool isEnd = item == end;
        switch (item->revocationState) {
          case REVSTATE_NO_DATA:
            writeWarning(report,
                         isEnd ? "Brak listy CRL lub odpowiedzi OCSP przy weryfikacji ścieżki "
                                 "adresata !!!"
                               : "Brak listy ARL lub odpowiedzi OCSP przy weryfikacji ścieżki "
                                 "adresata !!!",
                         subject);
            flags |= isEnd ? RECIP_WARN_NO_DATA_END : RECIP_WARN_NO_DATA_CA;
            break;
          case REVSTATE_STALE:
          case REVSTATE_STALE_AND_OLDER:
            writeWarning(report,
                         isEnd ? "Przeterminowana lista CRL lub odpowiedź OCSP przy weryfikacji "
                                 "ścieżki adresata !!!"
                               : "Przeterminowana lista ARL lub odpowiedź OCSP przy weryfikacji "
                                 "ścieżki adresata !!!",
                         subject);
            flags |= isEnd ? RECIP_WARN_STALE_END : RECIP_WARN_STALE_CA;
            break;
          default:
            break;
        }
      }
    }
  }
}
