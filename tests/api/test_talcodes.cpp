// The result-code table and the text entry points: every code has its name and message, the
// messages the library must say word for word, the texts formatted from a context, and lookups
// outside the tables.
// The records' header before the C header: their texts and the C entry
// points live side by side in one unit.
#include "pki/sig/sigrecords.h"
#include "talvorin.h"

#include "api/sharedtext.h"
#include "api/talapi.h"
#include "api/talcodes.h"
#include "api/talctx.h"
#include "keys/talprofile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <set>
#include <string>
#include <thread>

namespace {

// Narrow literals of this file are Windows-1250, as the library's texts.

TEST(ResultCodes, EveryCodeOfTheTableHasANameAndItsOwnMessage) {
  // The codes in table order (118 and 119 before 114).
  const int32_t expected[] = {0, 1, 2, 3, 10, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 118, 119, 114, 115, 116, 117, 120, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 158, 159, 160, 161, 163, 164, 165, 167, 168, 169, 170, 171, 172, 173, 174, 177, 178, 179, 180, 181, 182};
  size_t count = 0;
  const TalCodeRow* rows = talCodeRows(&count);
  ASSERT_EQ(sizeof expected / sizeof expected[0], count);
  std::set<std::string> messages;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(expected[i], rows[i].code) << i;
    const char* text = talErrorText(nullptr, rows[i].code);
    ASSERT_NE(nullptr, text) << rows[i].code;
    // 37 and 145 hand out the last-error text instead (empty here).
    if (rows[i].code == 37 || rows[i].code == 145) text = talCodeMessage(rows[i].code);
    ASSERT_NE(nullptr, text);
    EXPECT_GT(std::strlen(text), 1u) << rows[i].code;
    EXPECT_EQ(nullptr, std::strchr(text, '?')) << rows[i].code << ": a character lost in conversion";
    EXPECT_TRUE(messages.insert(talCodeMessage(rows[i].code)).second)
        << rows[i].code << " repeats a message";
    ASSERT_NE(nullptr, rows[i].name);
    EXPECT_TRUE(std::strncmp(rows[i].name, "TAL_", 4) == 0 ||
                std::strncmp(rows[i].name, "WTAL_", 5) == 0 ||
                std::strncmp(rows[i].name, "ETAL_", 5) == 0)
        << rows[i].name;
  }
  EXPECT_STREQ("ETAL_ATTR_HAS_NO_VALUE", talCodeName(133));
  EXPECT_STREQ("ETAL_ATTR_HAS_NO_VALUE", talCodeName(134));
  EXPECT_EQ(nullptr, talCodeName(166));
  EXPECT_EQ(ETAL_INV_TSL_FORMAT, 170);
  EXPECT_EQ(WTAL_GENERIC_WARNING, 10);
}

TEST(ResultCodes, MessagesGivenWordForWord) {
  struct Row {
    int32_t code;
    const char* text;
  };
  const Row rows[] = {
      {0, "OK"},
      {2, "OK, klucze na karcie kryptoptocesorowej"},
      {10, "Wystąpiły ostrzeżenia: użyj talGetWarnings aby je pobrać !!!"},
      {21, "Błędny kontekst podany funkcji API !!!"},
      {31, "Brak ziarna !!!"},
      {44, "Błąd komunikacji z kartą !!!"},
      {46, "Błędne hasło/PIN lub naruszona integralność pliku bezpieczeństwa !!!"},
      {63, "Certyfikat nie jest autocertyfikatem CCK"},
      {100, "Brak pamięci !!!"},
      {133, "Atrybut profilu ma wartość domyślną"},
      {134, "Atrybut profilu nie ma wartości"},
      {159, "Skonfigurowana funkcja skrótu nie jest wspierana z aktualnym algorytmem klucza "
            "asymetrycznego !!!"},
      {161, "Nieznany wyjątek"},
      {165, "Użytkownik anulował akcję"},
      {174, "Błąd testów poprawności biblioteki kryptograficznej libvorinpp"},
      // Messages the report lines of the time-stamp, signature and database
      // code quote as these codes' own: the table must give the same words.
      {92, "Nieznany algorytm skrótu !!!"},
      {128, "Z żadnego serwera nie udało się pobrać znacznika czasu !!!"},
      {158, "Błąd bazy danych !!!"},
      {160, "Niepoprawna wersja bazy danych"},
      {167, "Brak uprawnień do bazy danych"},
  };
  for (const Row& row : rows) EXPECT_STREQ(row.text, talErrorText(nullptr, row.code)) << row.code;
  // Windows-1250 bytes, not UTF-8: "ą" is one byte 0xB9.
  const char* warning = talErrorText(nullptr, 10);
  EXPECT_EQ(static_cast<char>(0xB9), warning[std::strlen("Wyst")]);
}

TEST(ResultCodes, CodesWithoutARowGiveTheUnknownText) {
  for (int32_t code : {999, 166, -1, 4, 11, 23, 47, 121, 142, 157, 183, INT32_MIN, INT32_MAX}) {
    std::string want = "Nieznany kod błędu " + std::to_string(code) + " !!!";
    EXPECT_EQ(want, talErrorText(nullptr, code));
  }
}

TEST(ResultCodes, TextsFormattedFromTheLastErrorAndTheContext) {
  // No last-error text yet: the message and one blank.
  EXPECT_STREQ("Błędny parametr wywołania funkcji API !!! ", talErrorText(nullptr, 20));
  EXPECT_STREQ("", talErrorText(nullptr, 37));
  lastErrorText.set("");
  lastErrorText.set(nullptr);
  EXPECT_STREQ("", talErrorText(nullptr, 145));
  lastErrorText.set("ost.dll");
  EXPECT_STREQ("Brak poprawnej konfiguracji w rejestrze !!! ost.dll", talErrorText(nullptr, 24));
  EXPECT_STREQ("ost.dll", talErrorText(nullptr, 145));
  // A long text is cut so that the whole fits 256 characters with its zero.
  lastErrorText.set(std::string(400, 'x').c_str());
  std::string cut = talErrorText(nullptr, 141);
  EXPECT_EQ(255u, cut.size());
  EXPECT_EQ(0u, cut.find("Wewnętrzny błąd TalVorin !!! xxx"));
  EXPECT_EQ(255u, std::strlen(talErrorText(nullptr, 37)));

  // Code 39: a number only with a context, in upper-case hexadecimal.
  EXPECT_STREQ("Urządzenie Karbon Ostra zwróciło błąd", talErrorText(nullptr, 39));
  talCtx ctx;
  ctx.deviceError = 0xBEEF01;
  const char* text = talErrorText(&ctx, 39);
  EXPECT_STREQ("Urządzenie Karbon Ostra zwróciło błąd nr BEEF01 !!!", text);
  EXPECT_EQ(ctx.errorText, text) << "written into the context's buffer";
  // Not a context: the marker is missing.
  char notContext[64] = "TalVorinCtx3.9#B";
  EXPECT_STREQ("Urządzenie Karbon Ostra zwróciło błąd",
               talErrorText(reinterpret_cast<talCtx*>(notContext), 39));
  EXPECT_EQ(21, checkCtx(notContext));
  EXPECT_EQ(20, checkCtx(nullptr));
  EXPECT_EQ(0, checkCtx(&ctx));

  // A device failure (answers 20 and 21 of the key-manager maps; openSession has no 21) keeps
  // the device's error number for the text; other answers leave the number as it was.
  struct Map {
    const AnswerRow* rows;
    size_t count;
    int32_t lastDeviceAnswer;
  };
  for (const Map& map : {Map{INIT_PROFILE_ANSWERS, INIT_PROFILE_ANSWER_COUNT, 21},
                         Map{SAVE_CONF_ANSWERS, SAVE_CONF_ANSWER_COUNT, 21},
                         Map{LOAD_ROOTS_ANSWERS, LOAD_ROOTS_ANSWER_COUNT, 21},
                         Map{OPEN_SESSION_ANSWERS, OPEN_SESSION_ANSWER_COUNT, 20}})
    for (int32_t answer = 20; answer <= map.lastDeviceAnswer; ++answer) {
      talCtx device;
      device.keyManager.deviceAnswer = 0x1C0 + static_cast<uint32_t>(answer);
      EXPECT_EQ(100, mapAnswer(&device, map.rows, map.count, 4, "test", __LINE__));
      EXPECT_EQ(0u, device.deviceError);
      EXPECT_EQ(39, mapAnswer(&device, map.rows, map.count, answer, "test", __LINE__));
      EXPECT_STREQ(answer == 20 ? "Urządzenie Karbon Ostra zwróciło błąd nr 1D4 !!!"
                                : "Urządzenie Karbon Ostra zwróciło błąd nr 1D5 !!!",
                   talErrorText(&device, 39));
    }
}

// Code 44 names what the PKCS#11 library answered, only for a context whose profile is a token.
TEST(ResultCodes, CardErrorNamesTheTokenAnswer) {
  const char* const plain = "Błąd komunikacji z kartą !!!";
  struct Row {
    int32_t profileType;  // 0: no profile
    uint32_t ckr;
    const char* text;
  };
  const Row rows[] = {
      {TALPROFILE_PKCS11, 0xA0,
       "Błąd komunikacji z kartą, biblioteka PKCS#11 zwróciła błąd: Błędny PIN !!!"},
      {TALPROFILE_PKCS11, 0x12345,
       "Błąd komunikacji z kartą, biblioteka PKCS#11 zwróciła błąd: Nieznany błąd biblioteki "
       "PKCS#11 !!!"},
      {TALPROFILE_MEMORY, 0xA0, plain},
      {TALPROFILE_PKCS12, 0xE0, plain},
      {0, 0xA0, plain},
  };
  for (const Row& row : rows) {
    talCtx ctx;
    if (row.profileType) { ASSERT_EQ(0, ctx.configuration.setProfile(createProfile(row.profileType))); }
    ctx.keyManager.lastCkr = row.ckr;
    EXPECT_STREQ(row.text, talErrorText(&ctx, 44)) << row.profileType;
  }
  EXPECT_STREQ(plain, talErrorText(nullptr, 44));
}

// A text formatted for an invalid context stays as it was while another thread formats its own.
TEST(ResultCodes, InvalidContextTextsArePerThread) {
  std::promise<void> firstDone, secondDone;
  std::string seenByFirst;
  std::thread first([&] {
    const char* mine = talErrorText(nullptr, 1001);
    firstDone.set_value();
    secondDone.get_future().wait();
    seenByFirst = mine;
  });
  firstDone.get_future().wait();
  std::thread second([&] {
    talErrorText(nullptr, 2002);
    secondDone.set_value();
  });
  second.join();
  first.join();
  EXPECT_EQ("Nieznany kod błędu 1001 !!!", seenByFirst);
}

TEST(ResultCodes, ReportText) {
  EXPECT_STREQ("", talReportText(nullptr));
  talCtx ctx;
  EXPECT_STREQ("", talReportText(&ctx));
  ctx.report << "Podpis zweryfikowany\r\n";
  EXPECT_STREQ("Podpis zweryfikowany\r\n", talReportText(&ctx));
  EXPECT_STREQ("Podpis zweryfikowany\r\n", talReportText(&ctx)) << "one terminator only";
  EXPECT_EQ(static_cast<int32_t>(std::strlen("Podpis zweryfikowany\r\n") + 1),
            ctx.reportBuffer.length());
  checkCtxAndResetReport(CtxUse(&ctx));
  EXPECT_STREQ("", talReportText(&ctx));
}

// Lines written after the text was read are read with it the next time.
TEST(ResultCodes, ReportTextHidesNothingWrittenLater) {
  talCtx ctx;
  ctx.report << "Podpis zweryfikowany\r\n";
  EXPECT_STREQ("Podpis zweryfikowany\r\n", talReportText(&ctx));
  ctx.report << "Koniec\r\n";
  EXPECT_STREQ("Podpis zweryfikowany\r\nKoniec\r\n", talReportText(&ctx));
  EXPECT_STREQ("Podpis zweryfikowany\r\nKoniec\r\n", talReportText(&ctx));
  EXPECT_EQ(static_cast<int32_t>(std::strlen("Podpis zweryfikowany\r\nKoniec\r\n") + 1),
            ctx.reportBuffer.length());
}

TEST(ResultCodes, StatusAndReasonTexts) {
  EXPECT_STREQ("Podpis częściowo zweryfikowany", signatureStatusText(3));
  EXPECT_STREQ("Podpis zweryfikowany poprawnie", signatureStatusText(4));
  for (int32_t status : {0, 5, -1, 1000}) EXPECT_EQ(nullptr, signatureStatusText(status));
  for (int32_t status = 1; status <= 4; ++status)
    EXPECT_EQ(sigStatusText(status), signatureStatusText(status)) << status;
  EXPECT_STREQ("Ścieżka zawiera zawieszony certyfikat", talReasonText(15));
  EXPECT_STREQ("Błąd weryfikacji ścieżki", talReasonText(17));
  EXPECT_STREQ("Czas wystawienia znacznika czasu jest późniejszy od czasu, na który jest weryfikowany",
               talReasonText(23));
  for (int32_t reason = 1; reason <= 23; ++reason)
    EXPECT_EQ(reason == 16, talReasonText(reason) == nullptr) << reason;
  for (int32_t reason : {0, 16, 24, -5}) EXPECT_EQ(nullptr, talReasonText(reason));
}

TEST(SharedTextHolder, GetAndSet) {
  SharedText holder;
  char buffer[8];
  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_FALSE(holder.get(buffer, sizeof buffer));
  EXPECT_EQ(0, buffer[0]) << "zeroed even without a text";
  EXPECT_FALSE(holder.get(nullptr, 8));
  buffer[0] = 'q';
  EXPECT_FALSE(holder.get(buffer, 1));
  EXPECT_EQ('q', buffer[0]);
  holder.set("abcdefghij");
  holder.set("");
  EXPECT_TRUE(holder.get(buffer, sizeof buffer));
  EXPECT_STREQ("abcdefg", buffer);
  EXPECT_TRUE(holder.get(buffer, 2));
  EXPECT_STREQ("a", buffer);
}

}  // namespace
