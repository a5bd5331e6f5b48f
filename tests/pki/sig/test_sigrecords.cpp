// Verification records: the status, reason, form and qualification texts
// (Windows-1250 bytes), reason severity, the message status as the worst of
// its signatures, and the ordering of time-stamp tokens (latest first, equal
// times by serial, a duplicate refused with the list untouched).
#include "pki/sig/sigprops.h"
#include "pki/sig/sigrecords.h"

#include "base/talexception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(SigRecords, StatusTextsAndLines) {
  struct Row {
    int32_t status;
    const char* text;
    const char* signatureLine;
    const char* timeStampLine;
  } rows[] = {
      {1, "Brak możliwości weryfikacji podpisu", "Brak możliwości przystąpienia do weryfikacji podpisu",
       "Brak możliwości przystąpienia do weryfikacji znacznika czasu"},
      {2, "Podpis niepoprawny", "Podpis negatywnie zweryfikowany", "Znacznik czasu negatywnie zweryfikowany"},
      {3, "Podpis częściowo zweryfikowany", "Podpis niekompletnie zweryfikowany",
       "Znacznik czasu niekompletnie zweryfikowany"},
      {4, "Podpis zweryfikowany poprawnie", "Podpis poprawnie zweryfikowany",
       "Znacznik czasu poprawnie zweryfikowany"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.status);
    EXPECT_STREQ(sigStatusText(r.status), r.text);
    EXPECT_STREQ(signatureStatusReportLine(r.status, false), r.signatureLine);
    EXPECT_STREQ(signatureStatusReportLine(r.status, true), r.timeStampLine);
  }
  for (int32_t out : {0, 5, -1}) {
    EXPECT_EQ(sigStatusText(out), nullptr);
    EXPECT_EQ(signatureStatusReportLine(out, false), nullptr);
  }
  // Windows-1250: 'ż' is 0xBF, 'ę' is 0xEA, one octet each.
  EXPECT_EQ(std::strlen(sigStatusText(1)), std::strlen("Brak mozliwosci weryfikacji podpisu"));
  EXPECT_NE(std::strchr(sigStatusText(1), '\xBF'), nullptr);
  EXPECT_NE(std::strchr(sigStatusText(3), '\xEA'), nullptr);
}

TEST(SigRecords, ReasonTexts) {
  struct Row {
    int32_t reason;
    const char* text;
  } rows[] = {
      {1, "Brak certyfikatu podpisującego"},
      {2, "Brak możliwości zbudowania ścieżki certyfikacji"},
      {3, "Niepoprawna wartość podpisu RSA/DSA/... (matematycznie)"},
      {4, "Niepoprawna wartość podpisu RSA/DSA/... (składniowo)"},
      {5, "Niezgodność podpisu ze skrótem wiadomości"},
      {6, "Ścieżka zawiera unieważniony certyfikat"},
      {7, "Ścieżka zawiera certyfikat będący poza okresem ważności"},
      {8, "Ścieżka nie spełnia wymagań polityk użytkownika"},
      {9, "Brak listy CRL lub odpowiedzi OCSP"},
      {10, "Przeterminowana lista CRL lub odpowiedź OCSP"},
      {11, "Lista CRL lub odpowiedź OCSP jest wcześniejsza niż data utworzenia podpisu"},
      {12, "Brak listy ARL lub odpowiedzi OCSP"},
      {13, "Przeterminowana lista ARL lub odpowiedź OCSP"},
      {14, "Lista ARL lub odpowiedź OCSP jest wcześniejsza niż data utworzenia podpisu"},
      {15, "Ścieżka zawiera zawieszony certyfikat"},
      {17, "Błąd weryfikacji ścieżki"},
      {18, "Nie powiodło się pobranie listy CRL niezbędnej do weryfikacji certyfikatu"},
      {19, "Nie powiodło się pobranie listy ARL niezbędnej do weryfikacji certyfikatu"},
      {20, "Błąd weryfikacji archiwalnego znacznika czasu"},
      {21, "Niepoprawna struktura podpisu PKCS#7/XAdES/..."},
      {22, "Brak ważnej listy CRL dla przeterminowanego certyfikatu podpisującego"},
      {23, "Czas wystawienia znacznika czasu jest późniejszy od czasu, na który jest weryfikowany"},
  };
  for (const Row& r : rows)
    EXPECT_STREQ(signatureReasonText(r.reason), r.text) << r.reason;
  for (int32_t none : {0, 16, 24, -1, 1000})
    EXPECT_EQ(signatureReasonText(none), nullptr) << none;
}

TEST(SigRecords, FormNames) {
  struct Row {
    int32_t form;
    const char* xml;
    const char* cms;
  } rows[] = {
      {3, "XML Signature", "CMS"},      {4, "XAdES-BES", "CAdES-BES"}, {5, "XAdES-T", "CAdES-T"},
      {6, "XAdES-C", "CAdES-C"},        {7, "XAdES-C", "CAdES-C"},     {8, "XAdES-C", "CAdES-C"},
      {9, "XAdES-X", "CAdES-X"},        {10, "XAdES-X", "CAdES-X"},    {11, "XAdES-X", "CAdES-X"},
      {12, "XAdES-A", "CAdES-A"},       {0, "Nieznany format podpisu", "Nieznany format podpisu"},
      {2, "Nieznany format podpisu", "Nieznany format podpisu"},
      {13, "Nieznany format podpisu", "Nieznany format podpisu"},
  };
  for (const Row& r : rows) {
    EXPECT_STREQ(signatureFormName(r.form, true), r.xml) << r.form;
    EXPECT_STREQ(signatureFormName(r.form, false), r.cms) << r.form;
  }
}

TEST(SigRecords, QualificationTexts) {
  EXPECT_STREQ(signerQualificationText(2, false), "Bezpieczny podpis elektroniczny");
  EXPECT_STREQ(signerQualificationText(2, true), "Znacznik czasu wystawiony przez kwalifikowany podmiot");
  EXPECT_STREQ(signerQualificationText(3, false), "Zwykły podpis elektroniczny");
  EXPECT_STREQ(signerQualificationText(3, true), "Znacznik czasu wystawiony przez zwykły podmiot");
  EXPECT_STREQ(signerQualificationText(1, false), "Podpis może być \"bezpiecznym podpisem elektronicznym\"");
  EXPECT_STREQ(signerQualificationText(1, true), "Nieznany status podmiotu, który wystawił znacznik czasu");
  EXPECT_EQ(signerQualificationText(0, false), nullptr);
  EXPECT_EQ(signerQualificationText(4, true), nullptr);
}

TEST(SigRecords, ReasonSeverity) {
  // Weights in order of seriousness, each outranking the next.
  const int32_t order[] = {15, 9, 12, 10, 13, 11, 14, 22};
  for (size_t i = 0; i + 1 < sizeof order / sizeof order[0]; ++i) {
    EXPECT_TRUE(reasonOutranks(order[i], order[i + 1])) << order[i] << " over " << order[i + 1];
    EXPECT_FALSE(reasonOutranks(order[i + 1], order[i])) << order[i + 1] << " over " << order[i];
  }
  struct Row {
    int32_t candidate, current;
    bool replaces;
  } rows[] = {
      {9, 10, true},   {22, 11, false}, {10, 10, false}, {9, 0, true},  {22, 0, true},
      {6, 9, false},   {6, 0, false},   {2, 22, false},  {16, 0, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(reasonOutranks(r.candidate, r.current), r.replaces) << r.candidate << " over " << r.current;
  EXPECT_EQ(reasonSeverity(15), 70);
  EXPECT_EQ(reasonSeverity(22), 5);
  EXPECT_EQ(reasonSeverity(1), 0);
}

TEST(SigRecords, MessageStatusIsTheWorst) {
  struct Row {
    std::vector<int32_t> statuses;
    int32_t message;
  } rows[] = {
      {{4, 3}, 3}, {{3, 4}, 3}, {{4, 4}, 4}, {{4, 1, 2}, 1}, {{2, 3, 4}, 2},
  };
  for (const Row& r : rows) {
    MsgInfo msg;
    for (int32_t s : r.statuses) {
      auto* info = new SigInfo;
      info->status = s;
      ASSERT_TRUE(msg.addSignature(info));
      EXPECT_EQ(info->owner, &msg);
    }
    EXPECT_EQ(msg.status, r.message);
    EXPECT_EQ(msg.GetCount(), int(r.statuses.size()));
  }
}

TEST(SigRecords, NewSigInfoIsEmpty) {
  SigInfo info;
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.reason, 0);
  EXPECT_EQ(info.qualification, 0);
  EXPECT_EQ(info.form, 0);
  EXPECT_EQ(info.properties, nullptr);
  EXPECT_TRUE(info.timeStampTokens.items.empty());
  EXPECT_EQ(info.policyResult, 0u);
}

// A token with the given generation time (seconds of one day, with an
// optional fraction) and serial octets.
template <class Token>
Token* token(int second, std::vector<unsigned char> serial, int32_t fraction = -1, int digits = 0) {
  auto* t = new Token;
  t->tstInfo.genTime.set(2024, 5, 6, 12, 0, second, fraction, digits);
  t->tstInfo.serialNumber.set(serial.data(), int(serial.size()));
  return t;
}

std::vector<std::string> orderOf(const std::list<SignatureTimeStampToken*>& items) {
  std::vector<std::string> out;
  for (auto* t : items) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/", t->tstInfo.genTime.second);
    std::string s = buf;
    for (int i = 0; i < t->tstInfo.serialNumber.length; ++i) {
      std::snprintf(buf, sizeof buf, "%02X", t->tstInfo.serialNumber.data()[i]);
      s += buf;
    }
    out.push_back(s);
  }
  return out;
}

TEST(SigRecords, TokenSortLatestFirstThenSerialAscending) {
  struct Row {
    std::vector<std::pair<int, std::vector<unsigned char>>> in;
    std::vector<std::string> out;
  } rows[] = {
      {{{1, {1}}, {3, {1}}, {2, {1}}}, {"3/01", "2/01", "1/01"}},
      {{{5, {9}}, {5, {2}}}, {"5/02", "5/09"}},
      // Serials compare as integers: 0x00FF (255) after 0x7F, a negative first.
      {{{5, {0x00, 0xFF}}, {5, {0x7F}}, {5, {0x80}}}, {"5/80", "5/7F", "5/00FF"}},
      {{{5, {0x01, 0x00}}, {7, {0x02}}, {5, {0x05}}}, {"7/02", "5/05", "5/0100"}},
      {{{4, {1}}}, {"4/01"}},
  };
  for (const Row& r : rows) {
    SignatureTimeStampTokens list;
    for (auto& [sec, serial] : r.in)
      list.items.push_back(token<SignatureTimeStampToken>(sec, serial));
    list.sortTokens();
    EXPECT_EQ(orderOf(list.items), r.out);
  }
}

TEST(SigRecords, TokenSortFractionsCount) {
  ArchiveTimeStampTokens list;
  list.items.push_back(token<ArchiveTimeStampToken>(5, {1}, 1, 1));    // .1
  list.items.push_back(token<ArchiveTimeStampToken>(5, {2}, 15, 2));   // .15
  list.items.push_back(token<ArchiveTimeStampToken>(5, {3}));          // whole second
  list.sortTokens();
  std::vector<int> serials;
  for (auto* t : list.items)
    serials.push_back(t->tstInfo.serialNumber.data()[0]);
  EXPECT_EQ(serials, (std::vector<int>{2, 1, 3}));
}

TEST(SigRecords, DuplicateTokenRefusedWithListUntouched) {
  SignatureTimeStampTokens list;
  list.items.push_back(token<SignatureTimeStampToken>(1, {7}));
  list.items.push_back(token<SignatureTimeStampToken>(9, {3}));
  list.items.push_back(token<SignatureTimeStampToken>(1, {0x00, 0x07}));  // 7 again, longer form
  const auto before = orderOf(list.items);
  try {
    list.sortTokens();
    ADD_FAILURE() << "duplicate accepted";
  } catch (const TalApiException& e) {
    EXPECT_EQ(e.getCode(), 89);
  }
  EXPECT_EQ(orderOf(list.items), before);
}

TEST(SigRecords, SameToken) {
  std::unique_ptr<SignatureTimeStampToken> a(token<SignatureTimeStampToken>(1, {7}));
  std::unique_ptr<SignatureTimeStampToken> b(token<SignatureTimeStampToken>(1, {7}));
  EXPECT_TRUE(sameTimeStampToken(*a, *a));
  EXPECT_TRUE(sameTimeStampToken(*a, *b));
  const unsigned char imprint[] = {1, 2, 3};
  b->tstInfo.messageImprint.digest.set(imprint, 3);
  EXPECT_FALSE(sameTimeStampToken(*a, *b));
  std::unique_ptr<SignatureTimeStampToken> c(token<SignatureTimeStampToken>(2, {7}));
  EXPECT_FALSE(sameTimeStampToken(*a, *c));
  std::unique_ptr<SignatureTimeStampToken> d(token<SignatureTimeStampToken>(1, {8}));
  EXPECT_FALSE(sameTimeStampToken(*a, *d));
}

}  // namespace
