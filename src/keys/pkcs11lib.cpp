#include "keys/pkcs11lib.h"

#include "crypto/hash/lvsha.h"
#include "keys/secretblock.h"
#include "platform/fileio.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace {

// The modules of the process, by dlopen handle (one module under two paths is one entry),
// with the number of bindings handed out. Counted under the lock rather than by the shared
// pointers alone, so that a load never meets a module whose last user is finalising it.
struct Entry {
  Pkcs11Library* library;
  size_t users;
};
// Recursive: a binding released while a load holds the lock (an allocation failure) takes it
// again.
std::recursive_mutex& registryLock() {
  static std::recursive_mutex lock;
  return lock;
}
std::map<void*, Entry>& registry() {
  static std::map<void*, Entry> modules;
  return modules;
}

// Every function the bindings call must be there: a NULL slot would be a call through NULL.
bool complete(const CK_FUNCTION_LIST& f) {
  return f.C_Initialize && f.C_Finalize && f.C_GetSlotList && f.C_GetTokenInfo &&
         f.C_OpenSession && f.C_CloseSession && f.C_Login && f.C_FindObjectsInit &&
         f.C_FindObjects && f.C_FindObjectsFinal && f.C_GetAttributeValue && f.C_SignInit &&
         f.C_Sign && f.C_DecryptInit && f.C_Decrypt;
}

}  // namespace

Pkcs11Library::Pkcs11Library(void* module, CK_FUNCTION_LIST* functionList, bool finalise)
    : handle(module), list(functionList), finaliseAtEnd(finalise) {
  SecretBlock random(sizeof salt);
  // Without the system's randomness the digests are unsalted, still never the PIN itself.
  if (random.fillFromSystem()) std::memcpy(salt, random.data(), sizeof salt);
}

void Pkcs11Library::pinDigest(CK_SLOT_ID slot, const uint8_t* pin, size_t length,
                              uint8_t* digest) {
  LvSha256 h;
  h.init();
  h.step(salt, sizeof salt);
  h.step(reinterpret_cast<const uint8_t*>(&slot), sizeof slot);
  h.step(pin, static_cast<unsigned int>(length));
  h.finish();
  h.getHash(32, digest);
}

void Pkcs11Library::sessionOpened(CK_SLOT_ID slot) {
  std::lock_guard<std::mutex> guard(loginLock);
  ++logins[slot].sessions;
}

void Pkcs11Library::sessionClosed(CK_SLOT_ID slot) {
  std::lock_guard<std::mutex> guard(loginLock);
  auto it = logins.find(slot);
  // The token logs out when the last session closes.
  if (it != logins.end() && --it->second.sessions == 0) {
    SecretBlock::wipe(it->second.digest, sizeof it->second.digest);
    logins.erase(it);
  }
}

CK_RV Pkcs11Library::login(CK_SLOT_ID slot, CK_SESSION_HANDLE session, const uint8_t* pin,
                           size_t length) {
  uint8_t digest[32];
  pinDigest(slot, pin, length, digest);
  // The login and its record under one lock: a second login never meets a login not yet
  // recorded.
  std::lock_guard<std::mutex> guard(loginLock);
  CK_RV rv = list->C_Login(session, CKU_USER, const_cast<uint8_t*>(pin),
                           static_cast<CK_ULONG>(length));
  auto it = logins.find(slot);
  if (it != logins.end() && rv == CKR_OK) {
    std::memcpy(it->second.digest, digest, sizeof digest);
    it->second.known = true;
  } else if (it != logins.end() && rv == CKR_USER_ALREADY_LOGGED_IN && it->second.known) {
    uint8_t diff = 0;
    for (size_t i = 0; i < sizeof digest; ++i) diff |= digest[i] ^ it->second.digest[i];
    if (diff != 0) rv = CKR_PIN_INCORRECT;
  }
  SecretBlock::wipe(digest, sizeof digest);
  return rv;
}

Pkcs11Library::~Pkcs11Library() {
  if (finaliseAtEnd) list->C_Finalize(nullptr);
  if (handle) dlclose(handle);
}

std::shared_ptr<Pkcs11Library> Pkcs11Library::linked(CK_FUNCTION_LIST* functionList) {
  if (!functionList || !complete(*functionList)) return nullptr;
  return std::shared_ptr<Pkcs11Library>(new Pkcs11Library(nullptr, functionList, false),
                                        [](Pkcs11Library* l) { delete l; });
}

void Pkcs11Library::release(Pkcs11Library* library) {
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  auto it = registry().find(library->handle);
  if (it != registry().end() && --it->second.users > 0) return;
  if (it != registry().end()) registry().erase(it);
  delete library;
}

int32_t Pkcs11Library::load(const std::string& path, std::shared_ptr<Pkcs11Library>& library,
                            std::string& failureText, CK_RV& ckr) {
  library.reset();
  ckr = CKR_OK;
  if (path.empty()) {
    failureText = "Nie podano ścieżki biblioteki PKCS#11";
    return P11_LIBRARY_MISSING;
  }
  // A path naming no regular file (a FIFO would hold dlopen forever) names no module; a bare
  // name is searched for by dlopen.
  bool refused = false;
  if (path.find('/') != std::string::npos) {
    int probe = platform::openRegularFile(path.c_str());
    refused = probe == platform::INVALID_FILE;
    if (!refused) platform::closeFile(probe);
  }
  std::lock_guard<std::recursive_mutex> guard(registryLock());
  void* module = refused ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    failureText = "Nie można załadować biblioteki PKCS#11 " + path;
    return P11_LIBRARY_MISSING;
  }
  auto known = registry().find(module);
  if (known != registry().end()) {
    dlclose(module);  // the binding holds its own reference
    ++known->second.users;
    library = std::shared_ptr<Pkcs11Library>(known->second.library, release);
    return P11_LOAD_OK;
  }
  CK_C_GetFunctionList getList =
      reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
  if (!getList) {
    dlclose(module);
    failureText = "Brak funkcji C_GetFunctionList w bibliotece PKCS#11 " + path;
    return P11_FUNCTION_MISSING;
  }
  CK_FUNCTION_LIST* list = nullptr;
  ckr = getList(&list);
  if (ckr != CKR_OK || !list) {
    dlclose(module);
    if (ckr == CKR_OK) ckr = CKR_GENERAL_ERROR;
    failureText = "Błąd funkcji C_GetFunctionList w bibliotece PKCS#11 " + path;
    return P11_INIT_FAILED;
  }
  if ((list->version.major != 2 && list->version.major != 3) || !complete(*list)) {
    dlclose(module);
    failureText = "Niepełna lista funkcji biblioteki PKCS#11 " + path;
    return P11_FUNCTION_MISSING;
  }
  // The library may be used from several threads (clones of a context): the module locks
  // with the system's own primitives.
  CK_C_INITIALIZE_ARGS args = {};
  args.flags = CKF_OS_LOCKING_OK;
  ckr = list->C_Initialize(&args);
  // Initialised by someone else in this process: usable, but not ours to finalise.
  bool ours = ckr == CKR_OK;
  if (ckr != CKR_OK && ckr != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    dlclose(module);
    failureText = "Błąd inicjowania biblioteki PKCS#11 " + path;
    return P11_INIT_FAILED;
  }
  ckr = CKR_OK;
  Pkcs11Library* made = nullptr;
  try {
    made = new Pkcs11Library(module, list, ours);
  } catch (const std::bad_alloc&) {
    if (ours) list->C_Finalize(nullptr);
    dlclose(module);
    throw;
  }
  try {
    registry()[module] = Entry{made, 1};
  } catch (const std::bad_alloc&) {
    delete made;
    throw;
  }
  // A shared pointer that cannot be made calls release, which finalises and unloads.
  library = std::shared_ptr<Pkcs11Library>(made, release);
  return P11_LOAD_OK;
}

const char* getCkrErrorText(uint32_t ckr) {
  struct Row {
    uint32_t value;
    const char* text;
  };
  static const Row rows[] = {
      {0x000, "Operacja zakończona poprawnie"},
      {0x001, "Operacja anulowana"},
      {0x002, "Brak pamięci w bibliotece PKCS#11"},
      {0x003, "Błędny identyfikator czytnika"},
      {0x005, "Błąd ogólny biblioteki PKCS#11"},
      {0x006, "Funkcja zakończona niepowodzeniem"},
      {0x007, "Błędne argumenty funkcji"},
      {0x008, "Brak zdarzenia"},
      {0x009, "Biblioteka musi tworzyć wątki"},
      {0x00A, "Nie można użyć blokad"},
      {0x010, "Atrybut tylko do odczytu"},
      {0x011, "Atrybut chroniony"},
      {0x012, "Błędny typ atrybutu"},
      {0x013, "Błędna wartość atrybutu"},
      {0x01B, "Czynność zabroniona"},
      {0x020, "Błędne dane"},
      {0x021, "Błędna długość danych"},
      {0x030, "Błąd urządzenia"},
      {0x031, "Brak pamięci w urządzeniu"},
      {0x032, "Urządzenie zostało odłączone"},
      {0x040, "Błędne dane zaszyfrowane"},
      {0x041, "Błędna długość danych zaszyfrowanych"},
      {0x050, "Funkcja anulowana"},
      {0x051, "Funkcja nie działa równolegle"},
      {0x054, "Funkcja nieobsługiwana"},
      {0x060, "Błędny uchwyt klucza"},
      {0x062, "Niedozwolony rozmiar klucza"},
      {0x063, "Niezgodny typ klucza"},
      {0x064, "Klucz niepotrzebny"},
      {0x065, "Klucz został zmieniony"},
      {0x066, "Wymagany klucz"},
      {0x067, "Nie można obliczyć skrótu klucza"},
      {0x068, "Funkcja niedozwolona dla klucza"},
      {0x069, "Klucza nie można opakować"},
      {0x06A, "Klucza nie można wyeksportować"},
      {0x070, "Błędny mechanizm"},
      {0x071, "Błędne parametry mechanizmu"},
      {0x082, "Błędny uchwyt obiektu"},
      {0x090, "Trwa inna operacja"},
      {0x091, "Operacja nie została rozpoczęta"},
      {0x0A0, "Błędny PIN"},
      {0x0A1, "Niepoprawny PIN"},
      {0x0A2, "Błędna długość PIN-u"},
      {0x0A3, "PIN utracił ważność"},
      {0x0A4, "PIN zablokowany"},
      {0x0B0, "Sesja zamknięta"},
      {0x0B1, "Zbyt wiele sesji"},
      {0x0B3, "Błędny uchwyt sesji"},
      {0x0B4, "Sesje równoległe nieobsługiwane"},
      {0x0B5, "Sesja tylko do odczytu"},
      {0x0B6, "Sesja istnieje"},
      {0x0B7, "Istnieje sesja tylko do odczytu"},
      {0x0B8, "Istnieje sesja administratora"},
      {0x0C0, "Niepoprawny podpis"},
      {0x0C1, "Błędna długość podpisu"},
      {0x0D0, "Niepełny szablon"},
      {0x0D1, "Niespójny szablon"},
      {0x0E0, "Brak karty w czytniku"},
      {0x0E1, "Nierozpoznana karta"},
      {0x0E2, "Karta chroniona przed zapisem"},
      {0x0F0, "Błędny uchwyt klucza rozpakowującego"},
      {0x0F1, "Niedozwolony rozmiar klucza rozpakowującego"},
      {0x0F2, "Niezgodny typ klucza rozpakowującego"},
      {0x100, "Użytkownik już zalogowany"},
      {0x101, "Użytkownik niezalogowany"},
      {0x102, "PIN użytkownika nie został ustawiony"},
      {0x103, "Błędny typ użytkownika"},
      {0x104, "Zalogowany jest inny użytkownik"},
      {0x105, "Zbyt wielu użytkowników"},
      {0x110, "Błędny klucz opakowany"},
      {0x112, "Błędna długość klucza opakowanego"},
      {0x113, "Błędny uchwyt klucza opakowującego"},
      {0x114, "Niedozwolony rozmiar klucza opakowującego"},
      {0x115, "Niezgodny typ klucza opakowującego"},
      {0x120, "Zasilanie generatora losowego nieobsługiwane"},
      {0x121, "Brak generatora losowego"},
      {0x130, "Błędne parametry dziedziny"},
      {0x140, "Krzywa nieobsługiwana"},
      {0x150, "Zbyt krótki bufor"},
      {0x160, "Błędny zapisany stan"},
      {0x170, "Informacja chroniona"},
      {0x180, "Stanu nie można zapisać"},
      {0x190, "Biblioteka PKCS#11 nie została zainicjowana"},
      {0x191, "Biblioteka PKCS#11 została już zainicjowana"},
      {0x1A0, "Błędna blokada"},
      {0x1A1, "Blokada nie jest zajęta"},
      {0x1B0, "Wymagany nowy PIN"},
      {0x1B1, "Wymagane następne hasło jednorazowe"},
      {0x1C0, "Przekroczono liczbę iteracji"},
      {0x1C1, "Błąd testów poprawności biblioteki PKCS#11"},
      {0x1C2, "Błąd ładowania biblioteki"},
      {0x1C3, "Zbyt słaby PIN"},
      {0x1C4, "Błędny klucz publiczny"},
      {0x200, "Funkcja odrzucona"},
  };
  for (const Row& row : rows)
    if (row.value == ckr) return row.text;
  return "Nieznany błąd biblioteki PKCS#11";
}
