// A PKCS#11 module loaded from its path (dlopen, C_GetFunctionList, C_Initialize), and the
// Polish texts of its return values. The module is a stranger's code: every count and length
// it hands back is checked against what was asked for before it is used.
//
// A process may initialise a module once, so the modules loaded are kept in one process-wide
// registry: a second load of the same module shares the first binding, and the module is
// finalised and unloaded when the last binding goes.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Answers of Pkcs11Library::load (those of the key manager's initDevice).
const int32_t P11_LOAD_OK = 0;
const int32_t P11_LIBRARY_MISSING = 29;   // dlopen failed or no path
const int32_t P11_FUNCTION_MISSING = 30;  // no C_GetFunctionList, or a list without a function
                                          // this binding calls
const int32_t P11_INIT_FAILED = 31;       // C_GetFunctionList or C_Initialize refused

class Pkcs11Library {
 public:
  Pkcs11Library(const Pkcs11Library&) = delete;
  Pkcs11Library& operator=(const Pkcs11Library&) = delete;

  // Loads the module at `path`. On failure `failureText` names the file (Windows-1250) and
  // `ckr` keeps the module's answer when it gave one.
  static int32_t load(const std::string& path, std::shared_ptr<Pkcs11Library>& library,
                      std::string& failureText, CK_RV& ckr);

  // A module linked into the process (tests, fuzzing): its functions used as they are,
  // nothing loaded, initialised or finalised; NULL for an incomplete list.
  static std::shared_ptr<Pkcs11Library> linked(CK_FUNCTION_LIST* functionList);

  CK_FUNCTION_LIST* functions() const { return list; }

  // The login on a token belongs to the process, so a second C_Login answers
  // CKR_USER_ALREADY_LOGGED_IN whatever PIN it brings. The binding remembers, per slot and
  // while a session of ours is open there, a salted digest of the PIN that logged in.
  void sessionOpened(CK_SLOT_ID slot);
  void sessionClosed(CK_SLOT_ID slot);
  // C_Login of the user with a PIN on a session of the slot. CKR_USER_ALREADY_LOGGED_IN
  // becomes CKR_PIN_INCORRECT when a PIN of ours logged in and this one differs (a login made
  // elsewhere, or on the reader, cannot be compared).
  CK_RV login(CK_SLOT_ID slot, CK_SESSION_HANDLE session, const uint8_t* pin, size_t length);

 private:
  ~Pkcs11Library();
  Pkcs11Library(void* module, CK_FUNCTION_LIST* functionList, bool finalise);
  // The deleter of the bindings handed out: the last one finalises and unloads the module.
  static void release(Pkcs11Library* library);

  struct Login {
    size_t sessions = 0;
    bool known = false;
    uint8_t digest[32] = {};
  };
  void pinDigest(CK_SLOT_ID slot, const uint8_t* pin, size_t length, uint8_t* digest);

  void* handle;
  CK_FUNCTION_LIST* list;
  bool finaliseAtEnd;
  std::mutex loginLock;
  std::map<CK_SLOT_ID, Login> logins;
  uint8_t salt[32] = {};
};

// Polish text of a PKCS#11 return value (Windows-1250); a text for unknown values too.
const char* getCkrErrorText(uint32_t ckr);
