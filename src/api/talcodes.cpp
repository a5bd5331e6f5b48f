#include "api/talcodes.h"

#include "pki/sig/sigrecords.h"

namespace {

#define ROW(code, name, message) {code, message, #name}

const TalCodeRow CODE_ROWS[] = {
    ROW(0, TAL_OK, "OK"),
    ROW(1, TAL_OK_NEED_CARD, "OK, klucze na karcie procesorowej"),
    ROW(2, TAL_OK_NEED_CRYPTO_CARD, "OK, klucze na karcie kryptoptocesorowej"),
    ROW(3, TAL_OK_NEED_OSTRA, "OK, klucze na Karbon Ostra"),
    ROW(10, WTAL_GENERIC_WARNING, "Wystąpiły ostrzeżenia: użyj talGetWarnings aby je pobrać !!!"),
    ROW(20, ETAL_API_INV_PAR, "Błędny parametr wywołania funkcji API !!!"),
    ROW(21, ETAL_API_INV_CTX, "Błędny kontekst podany funkcji API !!!"),
    ROW(22, ETAL_API_NOT_INITED, "API nie zainicjowane !!!"),
    ROW(24, ETAL_INV_REG, "Brak poprawnej konfiguracji w rejestrze !!!"),
    ROW(25, ETAL_KEYS_NOT_PRES, "Klucze lub certyfikaty użytkownika nie zainstalowane !!!"),
    ROW(26, ETAL_TAL_HOME, "Błędny katalog domowy TalVorin !!!"),
    ROW(27, ETAL_WSOCK, "Błąd inicjowania biblioteki Windows Socket !!!"),
    ROW(28, ETAL_NO_SKEY_PATH, "Brak ścieżki do pliku bezpieczeństwa !!!"),
    ROW(29, ETAL_EKEYS_NOT_PRES, "Klucz lub certyfikat do deszyfrowania niezainstalowany !!!"),
    ROW(30, ETAL_SKEYS_NOT_PRES, "Klucz lub certyfikat do podpisywania niezainstalowany !!!"),
    ROW(31, ETAL_SEED_NOT_PRES, "Brak ziarna !!!"),
    ROW(32, ETAL_CONF_NOT_PRES, "Brak konfiguracji !!!"),
    ROW(33, ETAL_TOO_MANY_KEYS, "Zbyt wiele kluczy na nośniku !!!"),
    ROW(34, ETAL_TOO_MANY_EKDS, "Zbyt wiele urządzeń EKD !!!"),
    ROW(35, ETAL_SGN_PIN_NOT_PRES, "Brak PINu do klucza podpisującego !!!"),
    ROW(36, ETAL_DEC_PIN_NOT_PRES, "Brak PINu do klucza deszyfrującego !!!"),
    ROW(37, ETAL_OST_LIB, "Nieznaleziona biblioteka urządzenia Karbon Ostra !!!"),
    ROW(38, ETAL_OST_NOT_FOUND, "Nieznaleziono zainicjowanego urządzenia Karbon Ostra !!!"),
    ROW(39, ETAL_OST, "Urządzenie Karbon Ostra zwróciło błąd nr %X !!!"),
    ROW(40, ETAL_EKD_NOT_FOUND, "Nieznaleziono urządzenia EKD !!!"),
    ROW(41, ETAL_NO_PKCS_LIB, "Nieznaleziona biblioteka PKCS#11 !!!"),
    ROW(42, ETAL_PKCS_LIB_INIT, "Biblioteka PKCS#11 odmówiła inicjowania !!!"),
    ROW(43, ETAL_CRD_NOT_FOUND, "Nieznaleziono karty w czytniku !!!"),
    ROW(44, ETAL_CRD_COM, "Błąd komunikacji z kartą !!!"),
    ROW(45, ETAL_CRD_BLOCKED, "Karta jest zablokowana !!!"),
    ROW(46, ETAL_PASSWORD, "Błędne hasło/PIN lub naruszona integralność pliku bezpieczeństwa !!!"),
    ROW(56, ETAL_OP_INFILE, "Błąd otwarcia pliku wejściowego !!!"),
    ROW(57, ETAL_OP_OUTFILE, "Błąd otwarcia pliku wyjściowego !!!"),
    ROW(58, ETAL_OP_TMPFILE, "Błąd otwarcia pliku tymczasowego !!!"),
    ROW(59, ETAL_RD_INFILE, "Błąd odczytu pliku wejściowego !!!"),
    ROW(60, ETAL_RD_TMPFILE, "Błąd odczytu pliku tymczasowego !!!"),
    ROW(61, ETAL_WR_TMPFILE, "Błąd zapisu pliku tymczasowego !!!"),
    ROW(62, ETAL_WR_OUTFILE, "Błąd zapisu pliku wyjściowego !!!"),
    ROW(63, ETAL_NO_CA_AUTO_CRT, "Certyfikat nie jest autocertyfikatem CCK"),
    ROW(64, ETAL_CRTAFTER, "Upłynął okres ważności certyfikatu !!!"),
    ROW(65, ETAL_CRTBEFORE, "Okres ważności certyfikatu jeszcze się nie rozpoczął !!!"),
    ROW(66, ETAL_CRTALG, "Nieobsługiwany algorytm certyfikatu !!!"),
    ROW(67, ETAL_CRTNOTFOUND, "Nie mogę znaleźć certyfikatu !!!"),
    ROW(68, ETAL_CRTREV, "Certyfikat został unieważniony !!!"),
    ROW(69, ETAL_CRTHANG, "Certyfikat został zawieszony !!!"),
    ROW(70, ETAL_CRTSIGN, "Błędny podpis pod certyfikatem !!!"),
    ROW(71, ETAL_CRTPOL, "Certyfikat nie spełnia wymagań polityk certyfikacji !!!"),
    ROW(72, ETAL_USERCRT, "Nie mogę znaleźć certyfikatu użytkownika !!!"),
    ROW(73, ETAL_INV_CRT_FMT, "Błędny format certyfikatu"),
    ROW(74, ETAL_INV_CRT_PROF, "Błędny profil certyfikatu !!!"),
    ROW(75, ETAL_NOT_MY_CA, "Certyfikat wystawiony przez obcy urząd certyfikacji !!!"),
    ROW(76, ETAL_UNP_KEY_CRT, "Klucz prywatny nie pasuje do certyfikatu !!!"),
    ROW(77, ETAL_DEKKEY, "Błędny klucz sesyjny !!!"),
    ROW(78, ETAL_DESPAD, "Błędne dopełnienie szyfrogramu !!!"),
    ROW(79, ETAL_DESMOD8, "Długość szyfrogramu nie jest wielokrotnością długości bloku !!!"),
    ROW(80, ETAL_RSA, "Błąd operacji RSA !!!"),
    ROW(81, ETAL_PUBKEY, "Błędny klucz publiczny !!!"),
    ROW(82, ETAL_SECKEY, "Błędny klucz prywatny !!!"),
    ROW(83, ETAL_SFT_OPEN, "Błąd otwarcia pliku bezpieczeństwa !!!"),
    ROW(84, ETAL_SFT_FMT, "Błędny format pliku bezpieczeństwa !!!"),
    ROW(85, ETAL_SFT_READ, "Błąd odczytu pliku bezpieczeństwa !!!"),
    ROW(86, ETAL_SFT_WRITE, "Błąd zapisu pliku bezpieczeństwa !!!"),
    ROW(87, ETAL_OLD_CRL, "Nieaktualna lista CRL !!!"),
    ROW(88, ETAL_INV_CRL_FMT, "Błędny format listy CRL !!!"),
    ROW(89, ETAL_INV_TAL_MSG, "Błędny format wiadomości !!!"),
    ROW(90, ETAL_NO_TAL_MSG, "Dane nie są wiadomością TalVorin !!!"),
    ROW(91, ETAL_CANT_FIND_DN, "Nie mogę znaleźć nazwy wyróżniającej !!!"),
    ROW(92, ETAL_DIGALG, "Nieznany algorytm skrótu !!!"),
    ROW(93, ETAL_SYMALG, "Nieobsługiwany algorytm szyfru symetrycznego !!!"),
    ROW(94, ETAL_MSGSIGN, "Błędny podpis wiadomości !!!"),
    ROW(95, ETAL_NOTADDR, "Wiadomość nie jest zaadresowana do użytkownika !!!"),
    ROW(96, ETAL_RECCRT, "Nie mogę znaleźć certyfikatu odbiorcy !!!"),
    ROW(97, ETAL_WRIMSG, "Błąd zapisu wiadomości !!!"),
    ROW(98, ETAL_FILE, "Błąd operacji na pliku !!!"),
    ROW(99, ETAL_LOCK, "Błąd blokady pliku !!!"),
    ROW(100, ETAL_MEM, "Brak pamięci !!!"),
    ROW(101, ETAL_CRL_EXPIRED, "Upłynął termin ważności listy CRL !!!"),
    ROW(102, ETAL_CRL_NOT_FOUND, "Nie mogę znaleźć listy CRL !!!"),
    ROW(103, ETAL_TCP_CON, "Błąd połączenia z serwerem !!!"),
    ROW(104, ETAL_TCP_SOCK, "Błąd gniazda sieciowego !!!"),
    ROW(105, ETAL_TCP_CLOSED, "Serwer zamknął połączenie !!!"),
    ROW(106, ETAL_TCP_TIMEOUT, "Przekroczony czas oczekiwania na odpowiedź serwera !!!"),
    ROW(107, ETAL_TCP_PROT, "Błąd protokołu komunikacji z serwerem !!!"),
    ROW(108, ETAL_TCP_NO_SRV, "Nieznaleziono serwera !!!"),
    ROW(109, ETAL_SRV_BAD_CA, "Serwer nie obsługuje wskazanego urzędu certyfikacji !!!"),
    ROW(110, ETAL_SRV_NO_CRL, "Serwer nie udostępnia listy CRL !!!"),
    ROW(111, ETAL_DC_CRL_FMT, "Błędny format listy CRL otrzymanej z serwera !!!"),
    ROW(112, ETAL_DC_CRL_ISS, "Lista CRL otrzymana z serwera ma innego wystawcę !!!"),
    ROW(113, ETAL_INV_WRK_MODE, "Błędny tryb pracy !!!"),
    ROW(118, ETAL_LOG, "Błąd zapisu do dziennika zdarzeń !!!"),
    ROW(119, ETAL_MSGSIGN_STR, "Błędna struktura podpisu wiadomości !!!"),
    ROW(114, ETAL_KEY_IMP_DEV, "Błąd importu klucza do urządzenia !!!"),
    ROW(115, ETAL_INV_KEY_FMT, "Błędny format klucza !!!"),
    ROW(116, ETAL_INV_KEY_PASS, "Błędne hasło do klucza !!!"),
    ROW(117, ETAL_INV_KEY_PROT, "Nieobsługiwany sposób ochrony klucza !!!"),
    ROW(120, ETAL_BUFF_TO_SHORT, "Zbyt krótki bufor !!!"),
    ROW(122, ETAL_NO_SENDR_CRT, "Nie mogę znaleźć certyfikatu nadawcy !!!"),
    ROW(123, ETAL_DN_NOT_PRESENT, "Brak nazwy wyróżniającej !!!"),
    ROW(124, ETAL_TS_REQ_SIGN, "Błąd podpisywania żądania znacznika czasu !!!"),
    ROW(125, ETAL_TS_NO_SERVER_DEF, "Nie zdefiniowano serwera znaczników czasu !!!"),
    ROW(126, ETAL_TS_NETWORK_FAIL, "Błąd sieci podczas pobierania znacznika czasu !!!"),
    ROW(127, ETAL_TS_VERIF, "Błąd weryfikacji znacznika czasu !!!"),
    ROW(128, ETAL_TS_ALL_SERVERS_FAIL, "Z żadnego serwera nie udało się pobrać znacznika czasu !!!"),
    ROW(129, ETAL_PROFILE_NOT_LOADED, "Nie załadowano profilu !!!"),
    ROW(130, ETAL_PKCS_NOT_INIT, "Błąd podczas inicjowania biblioteki PKCS#11 !!!"),
    ROW(131, ETAL_KEY_NOT_FOUND, "Brak klucza odpowiadającego profilowi !!!"),
    ROW(132, ETAL_TRUSTED_CA_DIFFERENT_GROUP, "Punkt zaufania istnieje w innej grupie !!!"),
    ROW(133, ETAL_ATTR_HAS_NO_VALUE, "Atrybut profilu ma wartość domyślną"),
    ROW(134, ETAL_ATTR_HAS_NO_VALUE, "Atrybut profilu nie ma wartości"),
    ROW(135, ETAL_KEYLEN_NOT_OSTRAS, "Długość klucza nieobsługiwana przez urządzenie Karbon Ostra !!!"),
    ROW(136, ETAL_VALUE_OUTOF_RANGE, "Wartość spoza dopuszczalnego zakresu !!!"),
    ROW(137, ETAL_NOT_IMPL, "Funkcjonalność niedostępna dla aktualnego nośnika !!!"),
    ROW(138, ETAL_XML_INV_POINTER, "Błędne wyrażenie XPointer w dokumencie XML !!!"),
    ROW(139, ETAL_XML_EMPTY_TRANSFORM, "Transformacja XML dała pusty wynik !!!"),
    ROW(140, ETAL_XML_TRANSFORM_FAILED, "Błąd podczas transformacji XML !!!"),
    ROW(141, ETAL_INTERNAL_ERROR, "Wewnętrzny błąd TalVorin !!!"),
    ROW(144, ETAL_ROOTS_PIN_NOT_PRES, "Brak PINu do nośnika punktów zaufania !!!"),
    ROW(145, ETAL_OST_DLL_FNC_LOAD_ERR, "Błąd podczas ładowania funkcji z biblioteki urządzenia Karbon Ostra !!!"),
    ROW(146, ETAL_ROOTS_PASSWORD, "Błędne hasło lub naruszona integralność nośnika punktów zaufania !!!"),
    ROW(147, ETAL_TOO_MANY_TOKENS, "Zbyt wiele tokenów PKCS#11 !!!"),
    ROW(148, ETAL_CRT_WITH_SUCH_USAGE_EXISTS, "Certyfikat o takim przeznaczeniu już istnieje !!!"),
    ROW(149, ETAL_KEY_WITH_SUCH_USAGE_EXISTS, "Klucz o takim przeznaczeniu już istnieje !!!"),
    ROW(150, ETAL_SGN_KEY_PIN_NOT_PRES, "Brak PINu do nośnika klucza podpisującego !!!"),
    ROW(151, ETAL_SGN_KEY_PASSWORD, "Błędne hasło lub naruszona integralność nośnika klucza podpisującego !!!"),
    ROW(152, ETAL_SRV_EXIST, "Serwer o takiej nazwie już istnieje !!!"),
    ROW(153, ETAL_TOO_MANY_CONTEXTS, "Zbyt wiele otwartych kontekstów !!!"),
    ROW(154, ETAL_RECERTIFICATION_WITH_DIFF_DN, "Recertyfikacja z inną nazwą wyróżniającą !!!"),
    ROW(155, ETAL_PATH_VER_ERR, "Błąd weryfikacji ścieżki certyfikacji !!!"),
    ROW(156, ETAL_ADD_ARCHIVE_ERROR, "Błąd dodawania danych archiwalnych !!!"),
    ROW(158, ETAL_DB, "Błąd bazy danych !!!"),
    ROW(159, ETAL_SIG_WITH_DIG_NOT_SUPPORTED, "Skonfigurowana funkcja skrótu nie jest wspierana z aktualnym algorytmem klucza asymetrycznego !!!"),
    ROW(160, ETAL_DB_VER, "Niepoprawna wersja bazy danych"),
    ROW(161, ETAL_UNKNOWN_EXCEPTION, "Nieznany wyjątek"),
    ROW(163, ETAL_PROFILE_LOAD_ERROR, "Błąd ładowania profilu"),
    ROW(164, ETAL_TEXT_CONVERT, "Błąd konwersji tekstu"),
    ROW(165, ETAL_ACTION_CANCELLED, "Użytkownik anulował akcję"),
    ROW(167, ETAL_DB_ACCESS, "Brak uprawnień do bazy danych"),
    ROW(168, ETAL_SRV_NOT_FND, "Nie znaleziono serwera"),
    ROW(169, ETAL_CRL_HTTPS_RECURENCE, "Pobranie listy CRL przez https wymaga tej samej listy CRL"),
    ROW(170, ETAL_INV_TSL_FORMAT, "Błędny format listy TSL"),
    ROW(171, ETAL_NO_ROOTS, "Brak zainstalowanych punktów zaufania"),
    ROW(172, ETAL_FILE_NOT_SGN_FOR_COUNTERSGN, "Plik nie jest podpisany, nie można złożyć kontrasygnaty"),
    ROW(173, ETAL_TS_REJECTED, "Serwer odrzucił żądanie znacznika czasu"),
    ROW(174, ETAL_LIBVORINPP_TEST_FAILED, "Błąd testów poprawności biblioteki kryptograficznej libvorinpp"),
    ROW(177, ETAL_NO_PROFILE_NAME, "Brak nazwy profilu"),
    ROW(178, ETAL_PDF_APP_INV_PAGE_NUM, "Błędny numer strony dokumentu PDF"),
    ROW(179, ETAL_PDF_APP_INV_RECT, "Błędny prostokąt wyglądu podpisu w dokumencie PDF"),
    ROW(180, ETAL_PDF_IS_ENCRYPTED, "Dokument PDF jest zaszyfrowany"),
    ROW(181, ETAL_UNSUPPORTED_ALGO_CERT_VERSION, "Algorytm nieobsługiwany w tej wersji certyfikatu"),
    ROW(182, ETAL_UNSUPPORTED_KEY_LEN_CERT_VERSION, "Długość klucza nieobsługiwana w tej wersji certyfikatu"),
};

#undef ROW

const char* const UNKNOWN_CODE = "Nieznany kod błędu %d !!!";
const char* const DEVICE_ERROR = "Urządzenie Karbon Ostra zwróciło błąd";
const char* const CARD_ERROR = "Błąd komunikacji z kartą, biblioteka PKCS#11 zwróciła błąd: %s !!!";

const size_t CODE_COUNT = sizeof CODE_ROWS / sizeof CODE_ROWS[0];

}  // namespace

const TalCodeRow* talCodeRows(size_t* count) {
  if (count) *count = CODE_COUNT;
  return CODE_ROWS;
}

const char* talCodeMessage(int32_t code) {
  for (const TalCodeRow& row : CODE_ROWS)
    if (row.code == code) return row.message;
  return nullptr;
}

const char* talCodeName(int32_t code) {
  for (const TalCodeRow& row : CODE_ROWS)
    if (row.code == code) return row.name;
  return nullptr;
}

const char* talUnknownCodeFormat() { return UNKNOWN_CODE; }
const char* talDeviceErrorConstant() { return DEVICE_ERROR; }
const char* talCardErrorFormat() { return CARD_ERROR; }

const char* talStatusText(int32_t status) {
  return sigStatusText(status);
}

const char* talReasonMessage(int32_t reason) {
  return signatureReasonText(reason);
}
