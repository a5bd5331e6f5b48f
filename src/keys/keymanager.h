// The key manager of a library context: its key device, random generator, trusted roots and the
// persistence of the configuration of a software profile. Keys themselves come with the profile
// types that hold them, as KeyHolder objects: the memory profile holds none, a PKCS#12 profile
// the keys of its file (pkcs12key.h); the PKCS#11 and hardware device bindings are not part of
// this build, so their key operations answer as missing.
//
// Statuses (the callers map them to result codes):
//   0 success; 1 bad arguments; 2 a message step out of order; 3 refused or not available here;
//   4 out of memory; 6 the stored settings (or the key file) cannot be opened; 7 they cannot be
//   written; 8 they cannot be read; 9 message input after its end; 10 bad padding of a message;
//   11 the decrypted message cannot be written; 12 malformed settings or key file; 13 a wrong PIN; 15 a root that is not self-issued; 17 a
//   signature that does not verify; 18 no (usable) session key; 19 a key file's algorithm not
//   taken; 20 device error; 29 device library missing; 35 PKCS#11 library missing; 37 no key of
//   the profile; 39 the root is already in the group; 40 it (or its subject) is in the other
//   group; 42 two keys for one usage; 47 no seed; 49 no PIN.
#pragma once

#include "asn1/asnseql.h"
#include "keys/certdesc.h"
#include "keys/keyholder.h"
#include "keys/secretblock.h"
#include "pki/x509/cert.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class KeyConfigAccess;
class LvCbc;
class LvRbgHashIso18031;
class Pkcs11Library;
class Pkcs11Session;

const int32_t KM_OK = 0;
const int32_t KM_BAD_ARGUMENTS = 1;
const int32_t KM_WRONG_ORDER = 2;
const int32_t KM_NOT_AVAILABLE = 3;
const int32_t KM_NO_MEMORY = 4;
const int32_t KM_SETTINGS_OPEN = 6;
const int32_t KM_SETTINGS_WRITE = 7;
const int32_t KM_SETTINGS_READ = 8;
const int32_t KM_INPUT_AFTER_END = 9;
const int32_t KM_BAD_PADDING = 10;
const int32_t KM_OUTPUT_FAILED = 11;
const int32_t KM_SETTINGS_FORMAT = 12;
const int32_t KM_NOT_SELF_ISSUED = 15;
const int32_t KM_BAD_SIGNATURE = 17;
const int32_t KM_NO_SESSION_KEY = 18;
const int32_t KM_DEVICE_ERROR = 20;
const int32_t KM_DEVICE_LIBRARY_MISSING = 29;
const int32_t KM_PKCS11_LIBRARY_MISSING = 35;
const int32_t KM_NO_KEY = 37;
const int32_t KM_ROOT_IN_GROUP = 39;
const int32_t KM_ROOT_IN_OTHER_GROUP = 40;
const int32_t KM_NO_SEED = 47;

// Content ciphers of the message steps (CBC).
const int32_t KM_CIPHER_TDES = 1;    // three-key triple DES, 24-octet key
const int32_t KM_CIPHER_AES128 = 2;
const int32_t KM_CIPHER_AES192 = 3;
const int32_t KM_CIPHER_AES256 = 4;

// Flags.
const uint32_t KM_FLAG_SIGNING_REQUIRED = 1;
const uint32_t KM_FLAG_DECRYPTION_REQUIRED = 2;
const uint32_t KM_FLAG_SIGNING_LOADED = 4;
const uint32_t KM_FLAG_DECRYPTION_LOADED = 8;
const uint32_t KM_FLAG_OWN_RANDOM = 32;
const uint32_t KM_FLAG_CONFIGURATION = 128;

// Where the software profile's settings are kept.
extern const char* const KM_SETTINGS_KEY;    // "SOFTWARE\MIRVAL KSO\TALVORIN\3.9"
extern const char* const KM_SETTINGS_VALUE;  // "TVSftCfg"

// The stored form: the configuration's DER as upper-case hexadecimal. The reader takes either
// case and nothing else: false for an odd length, a non-hex character or more than maxOctets.
std::string settingsToHex(const std::vector<uint8_t>& der);
bool settingsFromHex(const char* text, size_t length, size_t maxOctets, std::vector<uint8_t>& der);

// A root list: trust points in installation order, each with its kind as the description word.
// The certificates are shared with the paths that end at them: a path outlives a root removed
// meanwhile, and the root's prepared key serves every build.
using RootList = ASNsequenceList<SignedCertificateWithDesc>;

// A service of a trusted list: its trust points, kinds 1 to 4.
struct TrustedListService {
  std::vector<std::unique_ptr<SignedCertificate>> points[4];
};

// Texts of the PKCS#11 return values (CKR_*), Windows-1250.
const char* getCkrErrorText(uint32_t ckr);

class KeyManager {
 public:
  KeyManager();
  ~KeyManager();
  KeyManager(const KeyManager&) = delete;
  KeyManager& operator=(const KeyManager&) = delete;

  // Binds the manager to the configuration and gives it its own random generator, seeded from
  // the system: 0, or 4 when its buffers cannot be prepared. Without a system seed the flag 32
  // stays clear (getRandomBytes answers 47).
  int32_t init(KeyConfigAccess* configuration);
  // 0; 29 for the hardware device, whose library this system does not have. A PKCS#11
  // profile's module is loaded here: 29 it cannot be loaded, 30 it lacks C_GetFunctionList or
  // a function, 31 it refuses to initialise; loaderText names the module then. A profile
  // without a module path loads nothing here.
  int32_t initDevice();
  // Loads the profile's keys and the stored settings (the defaults first, then the settings
  // saved by saveConf when there are any, with the kind-1 roots stored in them added to those
  // held) and sets flag 128. 0 for the memory profile; 12 for malformed stored settings (a
  // stored root list that does not decode among them); 29 for the hardware device. A PKCS#12
  // profile reads its file (attribute 30, the bytes, else 9, the path) with the PIN of getPin:
  // besides readPkcs12Keys's statuses (pkcs12key.h), 6 no file given or it cannot be opened,
  // 8 it cannot be read, 12 larger than a key file is, 49 no PIN. A usage asked for but
  // without a key in the file is no longer required. A PKCS#11 profile logs in to its token (the PIN
  // from getPin) and takes its keys: 35 without a loaded module, else the statuses of
  // openPkcs11Keys (pkcs11key.h); lastCkr keeps the token's answer. Its attributes 27 and 32
  // drop the decryption or the signing requirement.
  int32_t initProfile(int32_t signing, int32_t decryption);
  // Copies the roots, the trusted-list map, the flags and (shared) the key holders but not the
  // random generator: a clone is seeded from its source's generator (seedRandom).
  void copyFrom(const KeyManager& source);

  // 0; 47 without a generator; 1 for a NULL buffer with a length.
  int32_t getRandomBytes(uint8_t* buffer, size_t length);
  // Makes (or reseeds) the own generator from 16..64 bytes: 0, 1 for another length, 4 out of
  // memory. Sets flag 32.
  int32_t seedRandom(const uint8_t* seed, size_t length);

  // Installs a trust point: group non-zero is the first (qualified) list. Kinds 1, 2, 4; kind 3
  // answers 3, and so does kind 4 (it needs the hardware device). A kind-1 root is also stored
  // in the configuration's certificate list of its group; before initProfile the stored
  // settings are read first (and their roots taken in), so the roots stored earlier stay.
  int32_t addCertificate(const SignedCertificate& certificate, int32_t group, int32_t kind);
  // Reloads the kind-1 roots of both groups from the lists stored in the configuration (mode 0;
  // another mode answers 1): 0, 4 out of memory, 12 a stored list that does not decode or holds
  // a word other than 1. A list stored as bare certificates (before the roots carried their
  // words) reads as kind-1 roots. The roots of other kinds stay; on failure nothing changes.
  int32_t loadRoots(int32_t mode);
  bool hasRoots() const { return qualifiedRoots->GetCount() > 0 || otherRoots->GetCount() > 0; }
  const RootList& rootList(bool qualified) const {
    return qualified ? *qualifiedRoots : *otherRoots;
  }
  // The certificates of one root list, in its order.
  void rootCertificates(bool qualified, std::vector<const SignedCertificate*>& out) const;
  const std::map<std::string, TrustedListService>& trustedListServices() const {
    return trustedServices;
  }
  // The trust points of a trusted list, under its scheme operator's name, in place of those of
  // a list registered under that name before.
  void setTrustedListService(const std::string& name, TrustedListService service) {
    trustedServices[name] = std::move(service);
  }

  // The configuration's DER as hexadecimal text in the registry value TVSftCfg (current user):
  // 0, 4 out of memory, 6 the key cannot be created, 7 the value cannot be written. (The
  // device's key file, the other place, goes with the absent device.)
  int32_t saveConf();
  // Reads it back into the configuration: 0, 8 absent or unreadable, 12 malformed, 4 out of
  // memory.
  int32_t loadConf();

  // Installs the profile's keys (either may be NULL; the same holder for both when one key
  // serves both usages) and sets flags 4 and 8 and the key-usage bits from what is given. The
  // key file's certificates of earlier keys are forgotten.
  void setKeyHolders(std::shared_ptr<KeyHolder> signing, std::shared_ptr<KeyHolder> decryption);
  KeyHolder* signingKey() const { return signingHolder.get(); }
  KeyHolder* decryptionKey() const { return decryptionHolder.get(); }
  // Every certificate of the PKCS#12 file the keys came from (empty for other keys): where a
  // signer's issuers are looked for first.
  const std::vector<SharedCertificate>& keyFileCertificates() const {
    return fileCertificates;
  }

  bool supportsDigest(int32_t digest) const;
  const ASNinteger* getSgnCrtSerial() const;
  const ASNinteger* getEncCrtSerial() const;
  // The signing key's certificate (the context's signer); NULL without one.
  const SignedCertificate* currentCertificate() const;
  // 0 RSA PKCS#1 v1.5, 1 DSA, 2 EC-DSA, 3 RSASSA-PSS; 0 without a signing key.
  int32_t getSgnScheme() const;
  // Bit length of the key of a usage (0 signing, 1 decryption); 0 without one.
  uint32_t getKeyBits(int32_t index) const;
  // Signs a digest with the signing key (KeyHolder::sign): 37 without one, 1 for NULL data.
  int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest, size_t digestLength,
               std::vector<uint8_t>& signature);
  // Lets the PKCS#11 token and its module go (clones may still hold them): the keys are gone.
  void releaseTokenLibrary();

  // Operations on the decryption key. decryptSesKey undoes RSA PKCS#1 v1.5 with the
  // decryption key and keeps the session key for the message steps; sessionKey, when given,
  // gets a copy and is cut to the key's length (32 octets hold the key of every cipher here).
  // 0; 1 bad arguments or a sessionKey block too small; 4; 18 not a PKCS#1 v1.5 block of this
  // key, one answer for every cause; 20; 37 without a decryption key.
  // The message steps decrypt CBC with the kept session key and remove the padding of XML
  // Encryption (the last octet counts the padding octets, 1 to a block). Their answers are
  // those XML decryption maps: 0; 2 a step out of order, an unknown cipher, an IV that is not
  // one block, NULL input; 9 input after finish; 10 bad padding or not whole blocks; 11 the
  // output cannot grow; 18 no session key, or one of another length than the cipher's;
  // 20 a cipher failure (memory included). A content step that fails ends the message: the
  // steps after it answer 2. Finishing a message wipes its session key.
  // verifyCrtOnOstra 20; isRecipient true when the issuer and serial name the decryption key's
  // certificate.
  int32_t decryptSesKey(const uint8_t* encrypted, size_t length, SecretBlock* sessionKey);
  // Prepares the keys for a message protection (flags 1 encrypt, 2 sign): 0 when nothing is to
  // sign or the signing key is ready; 37 without a signing key; 24 or 25 a token gone or
  // refusing (Pkcs11Session::loginState); a token that forgot the login is opened again, with
  // the answers of initProfile for a token (4, 13, 20, 24, 25, 27, 37, 42, 43, 49, 61).
  int32_t openSession(uint32_t flags);
  // cipher: one of KM_CIPHER_*; the IV is one block of it.
  int32_t processMsgInit(int32_t cipher, const uint8_t* iv, size_t ivLength);
  int32_t processMsgUpdate(const uint8_t* in, size_t length, std::vector<uint8_t>& out);
  int32_t processMsgFinish(std::vector<uint8_t>& out);
  bool isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) const;
  int32_t verifyCrtOnOstra(uint32_t sequenceId, const SignedCertificate& certificate,
                           int32_t mode);

  uint32_t flags = 0;
  uint32_t keyUsage = 0;   // bit 0 signing, bit 1 decryption, bit 2 one key for both
  uint32_t lastCkr = 0;    // the last PKCS#11 return value
  // The hardware device's last error number, which the context shows in code 39's text.
  // The device cannot exist here (its library is missing), so nothing sets it but a device.
  uint32_t deviceAnswer = 0;
  // The text of the last failed device-library load ("" when none).
  std::string loaderText;

 private:
  int32_t storeRootLists();
  int32_t readStoredRoots(bool qualified, RootList& stored) const;
  // Both root lists made again from the stored kind-1 roots of their groups and, of the roots
  // held, those of other kinds or (keepHeld) all, a stored root then left out (and kept aside,
  // to stay stored) where it is held already or its subject is in the other group. 0, or
  // loadRoots's failures; all or nothing.
  int32_t combineRoots(bool keepHeld);

  KeyConfigAccess* config = nullptr;
  std::unique_ptr<LvRbgHashIso18031> rbg;
  // Held by pointer, so that a reload replaces both lists at once.
  std::unique_ptr<RootList> qualifiedRoots{new RootList};
  std::unique_ptr<RootList> otherRoots{new RootList};
  // Stored kind-1 roots of each group this context does not trust (held already, or their
  // subject trusted in the other group), kept to be stored again.
  std::unique_ptr<RootList> qualifiedAside{new RootList};
  std::unique_ptr<RootList> otherAside{new RootList};
  std::map<std::string, TrustedListService> trustedServices;
  std::shared_ptr<KeyHolder> signingHolder;
  std::shared_ptr<KeyHolder> decryptionHolder;
  std::vector<SharedCertificate> fileCertificates;
  // The PKCS#11 module (loaded by initDevice) and the session of the profile's token.
  int32_t loadTokenLibrary();
  int32_t openToken();
  std::shared_ptr<Pkcs11Library> tokenLibrary;
  std::shared_ptr<Pkcs11Session> tokenSession;

  int32_t loadPkcs12();
  void endMessage();
  // The session key until its message is finished, and the message being decrypted with it:
  // its cipher, the state (0 none, 1 started, 2 finished) and the last decrypted block, held
  // back for finish.
  std::unique_ptr<SecretBlock> sessionKey;
  std::unique_ptr<LvCbc> contentCipher;
  int32_t messageState = 0;
  std::unique_ptr<SecretBlock> heldBlock;
  size_t heldOctets = 0;
};
