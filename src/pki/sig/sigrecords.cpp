#include "pki/sig/sigrecords.h"

#include "base/livehandles.h"
#include "base/talexception.h"
#include "pki/sig/sigprops.h"

#include <algorithm>
#include <vector>

namespace {

struct StatusRow {
  const char* text;
  const char* signatureLine;
  const char* timeStampLine;
};

const StatusRow kStatusRows[] = {
    {"Brak możliwości weryfikacji podpisu", "Brak możliwości przystąpienia do weryfikacji podpisu",
     "Brak możliwości przystąpienia do weryfikacji znacznika czasu"},
    {"Podpis niepoprawny", "Podpis negatywnie zweryfikowany", "Znacznik czasu negatywnie zweryfikowany"},
    {"Podpis częściowo zweryfikowany", "Podpis niekompletnie zweryfikowany",
     "Znacznik czasu niekompletnie zweryfikowany"},
    {"Podpis zweryfikowany poprawnie", "Podpis poprawnie zweryfikowany",
     "Znacznik czasu poprawnie zweryfikowany"},
};

// Index = reason code; null where no reason exists.
const char* const kReasonTexts[] = {
    nullptr,
    "Brak certyfikatu podpisującego",
    "Brak możliwości zbudowania ścieżki certyfikacji",
    "Niepoprawna wartość podpisu RSA/DSA/... (matematycznie)",
    "Niepoprawna wartość podpisu RSA/DSA/... (składniowo)",
    "Niezgodność podpisu ze skrótem wiadomości",
    "Ścieżka zawiera unieważniony certyfikat",
    "Ścieżka zawiera certyfikat będący poza okresem ważności",
    "Ścieżka nie spełnia wymagań polityk użytkownika",
    "Brak listy CRL lub odpowiedzi OCSP",
    "Przeterminowana lista CRL lub odpowiedź OCSP",
    "Lista CRL lub odpowiedź OCSP jest wcześniejsza niż data utworzenia podpisu",
    "Brak listy ARL lub odpowiedzi OCSP",
    "Przeterminowana lista ARL lub odpowiedź OCSP",
    "Lista ARL lub odpowiedź OCSP jest wcześniejsza niż data utworzenia podpisu",
    "Ścieżka zawiera zawieszony certyfikat",
    nullptr,
    "Błąd weryfikacji ścieżki",
    "Nie powiodło się pobranie listy CRL niezbędnej do weryfikacji certyfikatu",
    "Nie powiodło się pobranie listy ARL niezbędnej do weryfikacji certyfikatu",
    "Błąd weryfikacji archiwalnego znacznika czasu",
    "Niepoprawna struktura podpisu PKCS#7/XAdES/...",
    "Brak ważnej listy CRL dla przeterminowanego certyfikatu podpisującego",
    "Czas wystawienia znacznika czasu jest późniejszy od czasu, na który jest weryfikowany",
};

struct SeverityRow {
  int32_t reason;
  int32_t weight;
};

const SeverityRow kSeverity[] = {{15, 70}, {9, 60}, {12, 50}, {10, 40}, {13, 30}, {11, 20}, {14, 10}, {22, 5}};

template <class Token>
void sortOwnList(std::list<Token*>& items) {
  std::list<TimeStampToken*> view(items.begin(), items.end());
  sortTimeStampTokens(view);
  auto out = items.begin();
  for (TimeStampToken* t : view)
    *out++ = static_cast<Token*>(t);
}

}  // namespace

const char* sigStatusText(int32_t status) {
  return status >= 1 && status <= 4 ? kStatusRows[status - 1].text : nullptr;
}

const char* signatureStatusReportLine(int32_t status, bool timeStamp) {
  if (status < 1 || status > 4)
    return nullptr;
  return timeStamp ? kStatusRows[status - 1].timeStampLine : kStatusRows[status - 1].signatureLine;
}

const char* signatureReasonText(int32_t reason) {
  if (reason < 0 || reason >= int32_t(sizeof kReasonTexts / sizeof kReasonTexts[0]))
    return nullptr;
  return kReasonTexts[reason];
}

const char* signatureFormName(int32_t form, bool xml) {
  switch (form) {
    case 3: return xml ? "XML Signature" : "CMS";
    case 4: return xml ? "XAdES-BES" : "CAdES-BES";
    case 5: return xml ? "XAdES-T" : "CAdES-T";
    case 6: case 7: case 8: return xml ? "XAdES-C" : "CAdES-C";
    case 9: case 10: case 11: return xml ? "XAdES-X" : "CAdES-X";
    case 12: return xml ? "XAdES-A" : "CAdES-A";
    default: return "Nieznany format podpisu";
  }
}

const char* signerQualificationText(int32_t qualification, bool timeStamp) {
  switch (qualification) {
    case SIG_QUALIFICATION_QUALIFIED:
      return timeStamp ? "Znacznik czasu wystawiony przez kwalifikowany podmiot"
                       : "Bezpieczny podpis elektroniczny";
    case SIG_QUALIFICATION_ORDINARY:
      return timeStamp ? "Znacznik czasu wystawiony przez zwykły podmiot" : "Zwykły podpis elektroniczny";
    case SIG_QUALIFICATION_UNKNOWN:
      return timeStamp ? "Nieznany status podmiotu, który wystawił znacznik czasu"
                       : "Podpis może być \"bezpiecznym podpisem elektronicznym\"";
    default:
      return nullptr;
  }
}

int32_t reasonSeverity(int32_t reason) {
  for (const SeverityRow& row : kSeverity)
    if (row.reason == reason)
      return row.weight;
  return 0;
}

bool reasonOutranks(int32_t candidate, int32_t current) {
  int32_t weight = reasonSeverity(candidate);
  return weight > 0 && weight > reasonSeverity(current);
}

SignatureTimeStampToken::~SignatureTimeStampToken() = default;
ArchiveTimeStampToken::~ArchiveTimeStampToken() = default;

int compareSerialNumbers(const ASNinteger& a, const ASNinteger& b) {
  // Two's complement: the sign first, then the significant octets.
  auto significant = [](const ASNinteger& v, bool& negative) {
    const unsigned char* p = v.data();
    int32_t n = p ? v.length : 0;
    negative = n > 0 && (p[0] & 0x80) != 0;
    unsigned char fill = negative ? 0xFF : 0x00;
    int32_t skip = 0;
    while (skip + 1 < n && p[skip] == fill && ((p[skip + 1] & 0x80) != 0) == negative)
      ++skip;
    return std::pair<const unsigned char*, int32_t>(n ? p + skip : p, n - skip);
  };
  bool negA = false, negB = false;
  auto sa = significant(a, negA);
  auto sb = significant(b, negB);
  if (negA != negB)
    return negA ? -1 : 1;
  if (sa.second != sb.second) {
    bool aLonger = sa.second > sb.second;
    // A longer positive is greater; a longer negative is smaller.
    return (aLonger != negA) ? 1 : -1;
  }
  for (int32_t i = 0; i < sa.second; ++i)
    if (sa.first[i] != sb.first[i])
      return sa.first[i] < sb.first[i] ? -1 : 1;
  return 0;
}

bool sameTimeStampToken(const TimeStampToken& a, const TimeStampToken& b) {
  if (&a == &b)
    return true;
  const TimeStampTokenInfo& x = a.tstInfo;
  const TimeStampTokenInfo& y = b.tstInfo;
  return x.policy == y.policy &&
         x.messageImprint.digestAlgorithm == y.messageImprint.digestAlgorithm &&
         x.messageImprint.digest.equals(y.messageImprint.digest) &&
         compareSerialNumbers(x.serialNumber, y.serialNumber) == 0 && x.genTime == y.genTime;
}

void sortTimeStampTokens(std::list<TimeStampToken*>& tokens) {
  if (tokens.size() < 2)
    return;
  std::vector<TimeStampToken*> order(tokens.begin(), tokens.end());
  bool duplicate = false;
  std::stable_sort(order.begin(), order.end(), [&duplicate](const TimeStampToken* a, const TimeStampToken* b) {
    const ASNgenTime& ta = a->tstInfo.genTime;
    const ASNgenTime& tb = b->tstInfo.genTime;
    if (tb < ta)
      return true;
    if (ta < tb)
      return false;
    int bySerial = compareSerialNumbers(a->tstInfo.serialNumber, b->tstInfo.serialNumber);
    if (bySerial == 0 && a != b)
      duplicate = true;
    return bySerial < 0;
  });
  // The sort may not compare every neighbouring pair: check them.
  for (size_t i = 1; i < order.size() && !duplicate; ++i)
    duplicate = order[i - 1]->tstInfo.genTime == order[i]->tstInfo.genTime &&
                compareSerialNumbers(order[i - 1]->tstInfo.serialNumber, order[i]->tstInfo.serialNumber) == 0;
  if (duplicate)
    throw TalApiException(89);
  std::copy(order.begin(), order.end(), tokens.begin());
}

void SignatureTimeStampTokens::sortTokens() { sortOwnList(items); }
void ArchiveTimeStampTokens::sortTokens() { sortOwnList(items); }

// Both are handles of the C interface while they live (a signature dies with its message).
SigInfo::SigInfo() { enlistHandle(this, HandleKind::Signature); }

SigInfo::~SigInfo() {
  dropHandle(this);
  delete properties;
}

void SigInfo::setProperties(SignatureProperties* p) {
  if (p == properties)
    return;
  delete properties;
  properties = p;
}

MsgInfo::MsgInfo() { enlistHandle(this, HandleKind::Message); }
MsgInfo::~MsgInfo() { dropHandle(this); }

bool MsgInfo::addSignature(SigInfo* info) {
  if (!info || !AddTail(info))
    return false;
  info->owner = this;
  if (info->status < status)
    status = info->status;
  return true;
}
