#include "base/commonerror.h"

#include <stdexcept>
#include <string>

void invariantBroken(const char* sourceName, int line, const char* conditionText,
                     const char* detail)
{
    std::string text = "Naruszenie niezmiennika: ";
    text += sourceName ? sourceName : "";
    text += "(";
    text += std::to_string(line);
    text += "), warunek: ";
    text += conditionText ? conditionText : "";
    if (detail) {
        text += " ";
        text += detail;
    }
    throw std::runtime_error(text);
}

const char* BadAllocation::what() const noexcept
{
    return "bad allocation";
}

void throwBadAllocation()
{
    throw BadAllocation();
}

namespace {

struct CommonError
{
    uint32_t code;
    const char* message;
};

// Narrow literals are compiled to Windows-1250, the code page of every message.
const CommonError commonErrorTable[] = {
    {0, "Sukces"},
    {1, "Brak pamięci"},
    {2, "Błąd bazy danych"},
    {3, "Błąd operacji RSA"},
    {4, "Błędny format wiadomości CRL"},
    {5, "Błędny format certyfikatu"},
    {6, "Import przeterminowanej listy CRL"},
    {7, "Błędny podpis pod CRL"},
    {8, "Identyfikator wyróżniający wystawcy CRL nie odpowiada certyfikatowi CCK Ostry"},
    {9, "Błąd urządzenia ostra"},
    {10, "Ścieżka certyfikacji nie znaleziona"},
    {11, "Ścieżka certyfikacji nie zweryfikowana"},
    {12, "Błąd operacji na pliku"},
    {13, "Certyfikat już istnieje"},
    {14, "Certyfikat nie znaleziony"},
    {15, "Niepoprawny format certyfikatu"},
    {16, "CRL nie znaleziony"},
    {17, "Błąd nawiązywania połączenia"},
    {18, "Błędna nazwa użytkownika lub hasło dostępu do serwera"},
    {19, "Serwer zamknął połączenie"},
    {20, "Błąd gniazdka"},
    {21, "Przekroczony limit czasu oczekiwania"},
    {22, "Przekroczony limit rozmiaru obiektów"},
    {23, "Błąd inicjacji WindowsSocket"},
    {24, "Operacja przerwana przez użytkownika"},
    {25, "Błąd protokołu"},
    {26, "Nie można pobrać wskazanego pliku"},
    {27, "Serwer odrzuca wykonanie polecenia"},
    {28, "Niepoprawny format danych z sieci"},
    {29, "W identyfikatorze wyróżniającym brak pola wybranego typu"},
    {30, "Serwer o podanej nazwie już istnieje"},
    {31, "Serwer nie znaleziony"},
    {32, "CRL pobrany z sieci należy do niewłaściwego urzędu"},
    {33, "Błędny parametr"},
    {34, "Bufor zbyt krótki"},
    {35, "Nieznany typ ciagu"},
    {36, "Nieznany rodzaj atrybutu"},
    {37, "Wartość domyślna"},
    {38, "Brak wartości"},
    {39, "Brak profilu"},
    {40, "Inny błąd"},
    {41, "Nieobecny PIN"},
    {42, "Obiekt nie znaleziony"},
    {43, "Błąd podczas kopiowania domyślnej bazy danych"},
    {44, "Długość klucza nie jest wspierana przez Ostrę"},
    {45, "Czas utworzenia listy CRL późniejszy niż czas aktualny"},
    {46, "Niepoprawna wersja bazy danych"},
    {47, "Baza danych nie znaleziona"},
    {48, "Odpowiedź OCSP zawiera informację o błędzie, jest niepoprawna, lub nie odpowiada certyfikatowi"},
    {49, "Brak uprawnień do bazy danych"},
    {50, "Wymagane uwierzytelnienie proxy"},
    {51, "Niepoprawna nazwa użytkownika lub hasło dla serwera proxy"},
    {52, "Rekurencja: żeby pobraż crl po https trzeba zweryfikować certyfikat serwera, żeby zweryfikować certyfikat serwera trzeba pobrać crl po https"},
    {53, "Funkcjonalność nie zaimplementowana"},
    {54, nullptr},
};

const uint32_t commonErrorSentinel = 54;
bool commonErrorChecked = false;

} // namespace

const char* commonErrorText(uint32_t code)
{
    if (!commonErrorChecked) {
        uint32_t rows = 0;
        while (commonErrorTable[rows].code != commonErrorSentinel)
            ++rows;
        checkInvariant(rows == 54, "commonerror", __LINE__, "0");
        commonErrorChecked = true;
    }
    for (const CommonError* row = commonErrorTable; row->code != commonErrorSentinel; ++row)
        if (row->code == code)
            return row->message;
    return nullptr;
}

namespace {
// A malformed table is reported while the program starts, before other code runs.
const char* const commonErrorStartupCheck = commonErrorText(0);
} // namespace
