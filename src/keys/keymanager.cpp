#include "keys/keymanager.h"

#include "crypto/basic/lvexception.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "crypto/sym/lvcbc.h"
#include "keys/keyconfig.h"
#include "keys/pkcs11key.h"
#include "keys/pkcs12key.h"
#include "keys/talprofile.h"
#include "platform/fileio.h"
#include "platform/registry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

const char* const KM_SETTINGS_KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9";
const char* const KM_SETTINGS_VALUE = "TVSftCfg";

namespace {

const size_t SYSTEM_SEED_OCTETS = 48;
// The stored settings hold two certificate lists; a value beyond this is not ours.
const size_t MAX_SETTINGS_OCTETS = 4u * 1024 * 1024;

// Device types of the configuration.
const int32_t DEVICE_PKCS12 = 1;
const int32_t DEVICE_OSTRA = 2;
const int32_t DEVICE_PKCS11 = 4;
const int32_t DEVICE_MEMORY = 6;

const int32_t KM_NO_PIN = 49;
const int32_t PROFILE_PKCS12_PATH = 9;
const int32_t PROFILE_PKCS12_BYTES = 30;

// The whole file, when it is no larger than PKCS12_MAX_FILE_OCTETS: 0, 6 it cannot be opened,
// 8 a read fails, 12 it is larger.
int32_t readKeyFile(const std::string& path, std::vector<uint8_t>& bytes) {
  // A regular file only: a FIFO would wait for a writer, a device never end.
  int fd = platform::openRegularFile(path.c_str());
  if (fd < 0) return KM_SETTINGS_OPEN;
  bytes.clear();
  int32_t result = KM_OK;
  uint8_t chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = KM_SETTINGS_READ;
      break;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > PKCS12_MAX_FILE_OCTETS) {
      result = KM_SETTINGS_FORMAT;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  return result;
}

// A profile attribute's bytes; false when it is not set or empty.
bool profileBytes(const TalProfile& profile, int32_t number, std::vector<uint8_t>& out) {
  size_t length = 0;
  if (profile.getAttribute(number, nullptr, &length) != PROFILE_ATTR_OK || length == 0)
    return false;
  out.resize(length);
  if (profile.getAttribute(number, out.data(), &length) != PROFILE_ATTR_OK) return false;
  out.resize(length);
  return length > 0;
}

// The user's PIN (signing usage first, then decryption) in a block cut to its length: 0, 49.
int32_t userPin(KeyConfigAccess& config, std::unique_ptr<SecretBlock>& pin) {
  for (int32_t usage : {1, 2}) {
    size_t length = 0;
    int32_t r = config.getPin(usage, nullptr, &length);
    if (r != 34 || length == 0) continue;
    std::unique_ptr<SecretBlock> block(new SecretBlock(length));
    size_t got = block->size();
    if (config.getPin(usage, reinterpret_cast<char*>(block->data()), &got) != 0 ||
        got >= block->size())
      continue;
    block->shrink(got);
    pin = std::move(block);
    return KM_OK;
  }
  return KM_NO_PIN;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool sameName(const SignedCertificate& a, const SignedCertificate& b) {
  return a.tbsCertificate.subject == b.tbsCertificate.subject;
}

// Whether the list holds the certificate as a root of the kind (0: of any kind).
bool holds(const RootList& list, const SignedCertificate& certificate, uint32_t kind) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const SignedCertificateWithDesc* entry = list.GetNext(pos);
    if (entry && (kind == 0 || entry->word() == kind) && entry->certificate == certificate)
      return true;
  }
  return false;
}

// Whether the list holds a kind-1 root that is the certificate or of its subject.
bool storesSubject(const RootList& list, const SignedCertificate& certificate) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const SignedCertificateWithDesc* entry = list.GetNext(pos);
    if (entry && entry->word() == 1 &&
        (entry->certificate == certificate || sameName(entry->certificate, certificate)))
      return true;
  }
  return false;
}

// Whether the list holds the certificate, or another of its subject, of any kind.
bool claims(const RootList& list, const SignedCertificate& certificate) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const SignedCertificateWithDesc* entry = list.GetNext(pos);
    if (entry && (entry->certificate == certificate || sameName(entry->certificate, certificate)))
      return true;
  }
  return false;
}

}  // namespace

std::string settingsToHex(const std::vector<uint8_t>& der) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(der.size() * 2);
  for (uint8_t b : der) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

bool settingsFromHex(const char* text, size_t length, size_t maxOctets, std::vector<uint8_t>& der) {
  der.clear();
  if ((!text && length) || length % 2 != 0 || length / 2 > maxOctets) return false;
  der.reserve(length / 2);
  for (size_t i = 0; i < length; i += 2) {
    int high = hexValue(text[i]), low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      der.clear();
      return false;
    }
    der.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

KeyManager::KeyManager() = default;

KeyManager::~KeyManager() = default;

int32_t KeyManager::init(KeyConfigAccess* configuration) {
  config = configuration;
  try {
    SecretBlock seed(SYSTEM_SEED_OCTETS);
    if (seed.fillFromSystem()) return seedRandom(seed.data(), seed.size()) == KM_NO_MEMORY ? KM_NO_MEMORY
                                                                                       : KM_OK;
    return KM_OK;
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
}

int32_t KeyManager::initDevice() {
  if (config && config->deviceType() == DEVICE_PKCS11) return loadTokenLibrary();
  if (config && config->deviceType() == DEVICE_OSTRA) {
    loaderText = "Nie można załadować biblioteki ost.dll";
    return KM_DEVICE_LIBRARY_MISSING;
  }
  return KM_OK;
}

int32_t KeyManager::initProfile(int32_t signing, int32_t decryption) {
  if (!config) return KM_BAD_ARGUMENTS;
  flags &= ~(KM_FLAG_SIGNING_REQUIRED | KM_FLAG_DECRYPTION_REQUIRED);
  if (signing) flags |= KM_FLAG_SIGNING_REQUIRED;
  if (decryption) flags |= KM_FLAG_DECRYPTION_REQUIRED;
  switch (config->deviceType()) {
    case DEVICE_MEMORY:
      // Keys in memory are handed over by the caller later, if ever: none is required now.
      flags &= ~(KM_FLAG_SIGNING_REQUIRED | KM_FLAG_DECRYPTION_REQUIRED);
      break;
    case DEVICE_PKCS12: {
      int32_t keys = loadPkcs12();
      if (keys != KM_OK) return keys;
      if (!signingHolder) flags &= ~KM_FLAG_SIGNING_REQUIRED;
      if (!decryptionHolder) flags &= ~KM_FLAG_DECRYPTION_REQUIRED;
      break;
    }
    case DEVICE_PKCS11: {
      int32_t opened = openToken();
      if (opened != KM_OK) return opened;
      break;
    }
    case DEVICE_OSTRA:
      return KM_DEVICE_LIBRARY_MISSING;
    default:
      return KM_BAD_ARGUMENTS;
  }
  try {
    config->writeDefaults();
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  int32_t loaded = loadConf();
  if (loaded != KM_OK && loaded != KM_SETTINGS_READ) return loaded;
  // The roots an earlier context stored (kind 1) are trusted here too.
  if (loaded == KM_OK) {
    int32_t roots = combineRoots(true);
    if (roots != KM_OK) return roots;
  }
  flags |= KM_FLAG_CONFIGURATION;
  return KM_OK;
}

void KeyManager::copyFrom(const KeyManager& source) {
  flags = source.flags & ~KM_FLAG_OWN_RANDOM;
  keyUsage = source.keyUsage;
  lastCkr = source.lastCkr;
  deviceAnswer = source.deviceAnswer;
  loaderText = source.loaderText;
  // A clone signs and decrypts with its source's keys.
  signingHolder = source.signingHolder;
  decryptionHolder = source.decryptionHolder;
  fileCertificates = source.fileCertificates;
  tokenLibrary = source.tokenLibrary;
  tokenSession = source.tokenSession;
  qualifiedRoots->assign(*source.qualifiedRoots);
  otherRoots->assign(*source.otherRoots);
  qualifiedAside->assign(*source.qualifiedAside);
  otherAside->assign(*source.otherAside);
  trustedServices.clear();
  for (const auto& service : source.trustedServices) {
    TrustedListService& copy = trustedServices[service.first];
    for (int kind = 0; kind < 4; ++kind)
      for (const auto& point : service.second.points[kind])
        copy.points[kind].emplace_back(new SignedCertificate(*point));
  }
}

int32_t KeyManager::getRandomBytes(uint8_t* buffer, size_t length) {
  if (!rbg || !(flags & KM_FLAG_OWN_RANDOM)) return KM_NO_SEED;
  if (length == 0) return KM_OK;
  if (!buffer) return KM_BAD_ARGUMENTS;
  try {
    while (length > 0) {
      unsigned int step = length > 0x10000 ? 0x10000u : static_cast<unsigned int>(length);
      rbg->fillOctets(buffer, step);
      buffer += step;
      length -= step;
    }
  } catch (const LvException&) {
    return KM_DEVICE_ERROR;
  }
  return KM_OK;
}

int32_t KeyManager::seedRandom(const uint8_t* seed, size_t length) {
  if (!seed || length < 16 || length > 64) return KM_BAD_ARGUMENTS;
  try {
    if (!rbg) rbg.reset(new LvRbgHashIso18031);
    if (rbg->isInstantiated())
      rbg->reinit(seed, static_cast<unsigned int>(length));
    else
      rbg->init(seed, static_cast<unsigned int>(length));
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  } catch (const LvMemException&) {
    return KM_NO_MEMORY;
  } catch (const LvException&) {
    return KM_BAD_ARGUMENTS;
  }
  flags |= KM_FLAG_OWN_RANDOM;
  return KM_OK;
}

int32_t KeyManager::addCertificate(const SignedCertificate& certificate, int32_t group,
                                   int32_t kind) {
  if (kind == 3 || kind < 1 || kind > 4) return KM_NOT_AVAILABLE;
  const TBSCertificate& tbs = certificate.tbsCertificate;
  if (!(tbs.issuer == tbs.subject)) return KM_NOT_SELF_ISSUED;
  if (certificate.verifySelfSigned() != SignedCertificate::CERT_SIG_VALID) return KM_BAD_SIGNATURE;
  // Storing writes the settings whole: before talAuthenticateEx has read them, they are read
  // now, with the roots stored in them, so those stay stored. Settings that cannot be read are
  // replaced.
  if (kind == 1 && config && !(flags & KM_FLAG_CONFIGURATION) && loadConf() == KM_OK &&
      combineRoots(true) == KM_NO_MEMORY)
    return KM_NO_MEMORY;
  const bool qualified = group != 0;
  RootList& mine = qualified ? *qualifiedRoots : *otherRoots;
  const RootList& other = qualified ? *otherRoots : *qualifiedRoots;
  if (holds(mine, certificate, static_cast<uint32_t>(kind))) return KM_ROOT_IN_GROUP;
  if (claims(other, certificate)) return KM_ROOT_IN_OTHER_GROUP;
  // The hardware device's own roots need the device.
  if (kind == 4) return KM_NOT_AVAILABLE;
  try {
    std::unique_ptr<SignedCertificateWithDesc> entry(new SignedCertificateWithDesc);
    entry->certificate = certificate;
    entry->setWord(static_cast<uint32_t>(kind));
    if (mine.append(entry.get()) != 1) return KM_NO_MEMORY;
    entry.release();
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  if (kind != 1) return KM_OK;
  int32_t stored = storeRootLists();
  if (stored != KM_OK) mine.deleteTail();
  return stored;
}

namespace {

// Appends a copy of `entry` (sharing its certificate): false when the list cannot take it.
bool appendCopy(RootList& list, const SignedCertificateWithDesc& entry) {
  std::unique_ptr<SignedCertificateWithDesc> copy(new SignedCertificateWithDesc(entry));
  if (list.append(copy.get()) != 1) return false;
  copy.release();
  return true;
}

}  // namespace

int32_t KeyManager::storeRootLists() {
  if (!config) return KM_OK;
  try {
    for (int qualified = 1; qualified >= 0; --qualified) {
      const RootList& roots = rootList(qualified != 0);
      RootList list;
      for (POSITION pos = roots.GetHeadPosition(); pos;) {
        const SignedCertificateWithDesc* entry = roots.GetNext(pos);
        if (!entry || entry->word() != 1) continue;
        if (!appendCopy(list, *entry)) return KM_NO_MEMORY;
      }
      // The stored roots this context does not trust stay stored, unless a root of theirs has
      // been stored since in either group.
      const RootList& aside = qualified ? *qualifiedAside : *otherAside;
      for (POSITION pos = aside.GetHeadPosition(); pos;) {
        const SignedCertificateWithDesc* entry = aside.GetNext(pos);
        if (!entry || storesSubject(*qualifiedRoots, entry->certificate) ||
            storesSubject(*otherRoots, entry->certificate))
          continue;
        if (!appendCopy(list, *entry)) return KM_NO_MEMORY;
      }
      if (config->storeRootList(qualified != 0, list) != 1) return KM_NO_MEMORY;
    }
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  return KM_OK;
}

int32_t KeyManager::readStoredRoots(bool qualified, RootList& stored) const {
  int read = config->loadRootList(qualified, stored);
  if (read == -2) return KM_NO_MEMORY;
  if (read == 1) {
    // Only kind-1 roots are stored.
    for (POSITION pos = stored.GetHeadPosition(); pos;) {
      const SignedCertificateWithDesc* entry = stored.GetNext(pos);
      if (entry && entry->word() != 1) return KM_SETTINGS_FORMAT;
    }
    return KM_OK;
  }
  // Settings saved before the roots carried their words hold the bare certificates. Neither form
  // reads as the other: an element here begins with a whole certificate, a certificate with the
  // version or serial number of its TBS.
  stored.clear();
  ASNsequenceList<SignedCertificate> bare;
  read = config->loadRootList(qualified, bare);
  if (read == -2) return KM_NO_MEMORY;
  if (read != 1) return KM_SETTINGS_FORMAT;
  for (POSITION pos = bare.GetHeadPosition(); pos;) {
    const SignedCertificate* certificate = bare.GetNext(pos);
    if (!certificate) continue;
    std::unique_ptr<SignedCertificateWithDesc> entry(new SignedCertificateWithDesc);
    entry->certificate = *certificate;
    entry->setWord(1);
    if (stored.append(entry.get()) != 1) return KM_NO_MEMORY;
    entry.release();
  }
  return KM_OK;
}

void KeyManager::rootCertificates(bool qualified, std::vector<const SignedCertificate*>& out) const {
  const RootList& roots = rootList(qualified);
  for (POSITION pos = roots.GetHeadPosition(); pos;)
    if (const SignedCertificateWithDesc* entry = roots.GetNext(pos))
      out.push_back(&entry->certificate.get());
}

int32_t KeyManager::loadRoots(int32_t mode) {
  if (!config || mode != 0) return KM_BAD_ARGUMENTS;
  return combineRoots(false);
}

int32_t KeyManager::combineRoots(bool keepHeld) {
  try {
    std::unique_ptr<RootList> lists[2] = {std::unique_ptr<RootList>(new RootList),
                                          std::unique_ptr<RootList>(new RootList)};
    std::unique_ptr<RootList> aside[2] = {std::unique_ptr<RootList>(new RootList),
                                          std::unique_ptr<RootList>(new RootList)};
    for (int qualified = 0; qualified < 2; ++qualified) {
      RootList stored;
      const int32_t read = readStoredRoots(qualified != 0, stored);
      if (read != KM_OK) return read;
      const RootList& held = rootList(qualified != 0);
      const RootList& other = rootList(qualified == 0);
      for (POSITION pos = held.GetHeadPosition(); pos;) {
        const SignedCertificateWithDesc* entry = held.GetNext(pos);
        if (entry && (keepHeld || entry->word() != 1) && !appendCopy(*lists[qualified], *entry))
          return KM_NO_MEMORY;
      }
      // Copied: an element read in place views the stored list's octets.
      for (POSITION pos = stored.GetHeadPosition(); pos;) {
        const SignedCertificateWithDesc* entry = stored.GetNext(pos);
        if (!entry) continue;
        // Not trusted twice: a stored root this context holds already (of any kind), or one
        // whose subject it trusts in the other group (as addCertificate would refuse it). Such a
        // root stays stored all the same.
        if (keepHeld && (holds(held, entry->certificate, 0) || claims(other, entry->certificate))) {
          if (!holds(held, entry->certificate, 1) && !appendCopy(*aside[qualified], *entry))
            return KM_NO_MEMORY;
          continue;
        }
        if (!appendCopy(*lists[qualified], *entry)) return KM_NO_MEMORY;
      }
    }
    otherRoots.swap(lists[0]);
    qualifiedRoots.swap(lists[1]);
    otherAside.swap(aside[0]);
    qualifiedAside.swap(aside[1]);
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  return KM_OK;
}

int32_t KeyManager::saveConf() {
  if (!config) return KM_BAD_ARGUMENTS;
  try {
    std::vector<uint8_t> der;
    if (!config->encodeConfiguration(der)) return KM_NO_MEMORY;
    std::string text = settingsToHex(der);
    text += '\0';
    platform::RegistryKey key;
    if (key.create(platform::RegistryRoot::CurrentUser, KM_SETTINGS_KEY) !=
        platform::RegistryStatus::Ok)
      return KM_SETTINGS_OPEN;
    if (key.setValue(KM_SETTINGS_VALUE, platform::REGISTRY_SZ, text.data(), text.size()) !=
        platform::RegistryStatus::Ok)
      return KM_SETTINGS_WRITE;
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  return KM_OK;
}

int32_t KeyManager::loadConf() {
  if (!config) return KM_BAD_ARGUMENTS;
  try {
    platform::RegistryKey key;
    uint32_t type = 0;
    std::vector<uint8_t> text;
    if (key.open(platform::RegistryRoot::CurrentUser, KM_SETTINGS_KEY, false) !=
            platform::RegistryStatus::Ok ||
        key.queryValue(KM_SETTINGS_VALUE, type, text) != platform::RegistryStatus::Ok)
      return KM_SETTINGS_READ;
    if (type != platform::REGISTRY_SZ) return KM_SETTINGS_FORMAT;
    size_t length = text.size();
    if (length > 0 && text[length - 1] == 0) --length;
    std::vector<uint8_t> der;
    if (!settingsFromHex(reinterpret_cast<const char*>(text.data()), length, MAX_SETTINGS_OCTETS,
                         der))
      return KM_SETTINGS_FORMAT;
    int loaded = config->loadConfiguration(der.data(), der.size());
    if (loaded == -2) return KM_NO_MEMORY;
    return loaded == 1 ? KM_OK : KM_SETTINGS_FORMAT;
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
}

void KeyManager::setKeyHolders(std::shared_ptr<KeyHolder> signing,
                               std::shared_ptr<KeyHolder> decryption) {
  signingHolder = std::move(signing);
  decryptionHolder = std::move(decryption);
  fileCertificates.clear();
  flags &= ~(KM_FLAG_SIGNING_LOADED | KM_FLAG_DECRYPTION_LOADED);
  keyUsage = 0;
  if (signingHolder) {
    flags |= KM_FLAG_SIGNING_LOADED;
    keyUsage |= 1;
  }
  if (decryptionHolder) {
    flags |= KM_FLAG_DECRYPTION_LOADED;
    keyUsage |= 2;
  }
  if (signingHolder && signingHolder == decryptionHolder) keyUsage |= 4;
}

bool KeyManager::supportsDigest(int32_t digest) const {
  // Only a loaded signing key limits the digests.
  if (!(flags & KM_FLAG_SIGNING_LOADED) || !signingHolder) return true;
  return signingHolder->supportsDigest(digest);
}

const ASNinteger* KeyManager::getSgnCrtSerial() const {
  const SignedCertificate* c = signingHolder ? signingHolder->certificate() : nullptr;
  return c ? &c->tbsCertificate.serialNumber : nullptr;
}

const ASNinteger* KeyManager::getEncCrtSerial() const {
  const SignedCertificate* c = decryptionHolder ? decryptionHolder->certificate() : nullptr;
  return c ? &c->tbsCertificate.serialNumber : nullptr;
}

const SignedCertificate* KeyManager::currentCertificate() const {
  return signingHolder ? signingHolder->certificate() : nullptr;
}

int32_t KeyManager::getSgnScheme() const { return signingHolder ? signingHolder->scheme() : 0; }

uint32_t KeyManager::getKeyBits(int32_t index) const {
  const KeyHolder* holder = index == 0 ? signingHolder.get()
                            : index == 1 ? decryptionHolder.get()
                                         : nullptr;
  return holder ? holder->keyBits() : 0;
}

int32_t KeyManager::sign(int32_t scheme, int32_t digestId, const uint8_t* digest,
                         size_t digestLength, std::vector<uint8_t>& signature) {
  if (!signingHolder) return KM_NO_KEY;
  if (!digest || digestLength == 0) return KM_BAD_ARGUMENTS;
  int32_t signed_ = signingHolder->sign(scheme, digestId, digest, digestLength, signature);
  if (tokenSession) lastCkr = static_cast<uint32_t>(tokenSession->lastCkr());
  return signed_;
}

int32_t KeyManager::loadTokenLibrary() {
  tokenSession.reset();
  tokenLibrary.reset();
  const TalProfile* profile = config ? config->activeProfile() : nullptr;
  CK_RV ckr = CKR_OK;
  try {
    std::string path = profile ? pkcs11ModulePath(*profile) : std::string();
    // A profile that names no module opens (the context answers that keys are on a card);
    // its keys are then missing: initProfile answers 35.
    if (path.empty()) return KM_OK;
    int32_t loaded = Pkcs11Library::load(path, tokenLibrary, loaderText, ckr);
    lastCkr = static_cast<uint32_t>(ckr);
    return loaded;
  } catch (const std::bad_alloc&) {
    return P11_INIT_FAILED;
  }
}

int32_t KeyManager::openToken() {
  if (!tokenLibrary) return KM_PKCS11_LIBRARY_MISSING;
  const TalProfile* profile = config->activeProfile();
  if (!profile) return KM_BAD_ARGUMENTS;
  try {
    Pkcs11Choice choice = pkcs11Choice(*profile);
    KeyConfigAccess* source = config;
    Pkcs11PinSource pin = [source](int32_t usage, char* buffer, size_t* length) {
      return source->getPin(usage, buffer, length);
    };
    Pkcs11Keys keys;
    CK_RV ckr = CKR_OK;
    int32_t opened = openPkcs11Keys(tokenLibrary, choice, pin, keys, ckr);
    lastCkr = static_cast<uint32_t>(ckr);
    if (opened != KM_OK) return opened;
    tokenSession = keys.session;
    setKeyHolders(keys.signing, keys.decryption);
    if (choice.signingOnly) flags &= ~KM_FLAG_DECRYPTION_REQUIRED;
    if (choice.decryptionOnly) flags &= ~KM_FLAG_SIGNING_REQUIRED;
    return KM_OK;
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
}

void KeyManager::releaseTokenLibrary() {
  if (!tokenLibrary && !tokenSession) return;
  setKeyHolders(nullptr, nullptr);
  tokenSession.reset();
  tokenLibrary.reset();
}

int32_t KeyManager::loadPkcs12() {
  const TalProfile* profile = config->activeProfile();
  if (!profile) return KM_NO_KEY;
  try {
    std::vector<uint8_t> file;
    if (!profileBytes(*profile, PROFILE_PKCS12_BYTES, file)) {
      std::vector<uint8_t> path;
      if (!profileBytes(*profile, PROFILE_PKCS12_PATH, path)) return KM_SETTINGS_OPEN;
      std::string name(path.begin(), path.end());
      name.resize(std::strlen(name.c_str()));
      if (name.empty()) return KM_SETTINGS_OPEN;
      int32_t read = readKeyFile(name, file);
      if (read != KM_OK) return read;
    }
    std::unique_ptr<SecretBlock> pin;
    int32_t given = userPin(*config, pin);
    if (given != KM_OK) return given;
    Pkcs12Keys keys;
    int32_t r = readPkcs12Keys(file.data(), file.size(), reinterpret_cast<const char*>(pin->data()),
                               pin->size(), keys);
    if (r != KM_OK) return r;
    setKeyHolders(keys.signing, keys.decryption);
    fileCertificates = std::move(keys.certificates);
  } catch (const std::bad_alloc&) {
    return KM_NO_MEMORY;
  }
  return KM_OK;
}

void KeyManager::endMessage() {
  contentCipher.reset();
  heldBlock.reset();
  heldOctets = 0;
}

int32_t KeyManager::decryptSesKey(const uint8_t* encrypted, size_t length, SecretBlock* copy) {
  // A failed or refused decryption leaves no key of an earlier message behind.
  sessionKey.reset();
  endMessage();
  messageState = 0;
  if (!decryptionHolder) return KM_NO_KEY;
  if (!encrypted || length == 0) return KM_BAD_ARGUMENTS;
  std::unique_ptr<SecretBlock> key;
  int32_t r = decryptionHolder->decryptSessionKey(encrypted, length, key);
  if (tokenSession) lastCkr = static_cast<uint32_t>(tokenSession->lastCkr());
  if (r != KM_OK) return r;
  if (copy) {
    if (copy->size() < key->size()) return KM_BAD_ARGUMENTS;
    std::memcpy(copy->data(), key->data(), key->size());
    copy->shrink(key->size());
  }
  sessionKey = std::move(key);
  return KM_OK;
}

int32_t KeyManager::openSession(uint32_t flags) {
  // Encryption takes only the recipients' public keys and the own generator.
  if (!(flags & 2)) return KM_OK;
  if (!signingHolder) return KM_NO_KEY;
  const TalProfile* profile = config ? config->activeProfile() : nullptr;
  // A key read from a file is in memory since initProfile; a token's may have been logged out
  // or pulled since then. A token that forgot the login forgot the keys' handles with it: the
  // token is opened again (a new login with the PIN of getPin, the keys found again).
  if (!tokenSession || !profile) return KM_OK;
  CK_RV ckr = CKR_OK;
  const int32_t state = tokenSession->loginState(ckr);
  lastCkr = static_cast<uint32_t>(ckr);
  if (state != 1) return state;
  return openToken();
}

int32_t KeyManager::processMsgInit(int32_t cipher, const uint8_t* iv, size_t ivLength) {
  if (!sessionKey) return KM_NO_SESSION_KEY;
  endMessage();
  messageState = 0;
  struct Cipher {
    int32_t id;
    LvBcAlgo algo;
    size_t keyOctets, blockOctets;
  };
  static const Cipher ciphers[] = {{KM_CIPHER_TDES, LV_BC_TDES, 24, 8},
                                   {KM_CIPHER_AES128, LV_BC_AES, 16, 16},
                                   {KM_CIPHER_AES192, LV_BC_AES, 24, 16},
                                   {KM_CIPHER_AES256, LV_BC_AES, 32, 16}};
  const Cipher* chosen = nullptr;
  for (const Cipher& c : ciphers)
    if (c.id == cipher) chosen = &c;
  if (!chosen || !iv || ivLength != chosen->blockOctets) return KM_WRONG_ORDER;
  if (sessionKey->size() != chosen->keyOctets) return KM_NO_SESSION_KEY;
  try {
    // No padding here: the padding of XML Encryption is taken off at finish.
    std::unique_ptr<LvCbc> cbc(new LvCbc(chosen->algo, 3));
    try {
      cbc->setKey(sessionKey->data(), static_cast<unsigned int>(sessionKey->size()));
    } catch (const LvMemException&) {
      return KM_DEVICE_ERROR;
    } catch (const LvException&) {
      return KM_NO_SESSION_KEY;  // a weak DES key
    }
    cbc->init(LvSymEnc::DECRYPT, iv, static_cast<unsigned int>(ivLength));
    heldBlock.reset(new SecretBlock(chosen->blockOctets));
    contentCipher = std::move(cbc);
  } catch (const std::bad_alloc&) {
    endMessage();
    return KM_DEVICE_ERROR;
  } catch (const LvException&) {
    endMessage();
    return KM_DEVICE_ERROR;
  }
  messageState = 1;
  return KM_OK;
}

int32_t KeyManager::processMsgUpdate(const uint8_t* in, size_t length, std::vector<uint8_t>& out) {
  if (messageState == 2) return KM_INPUT_AFTER_END;
  if (messageState != 1) return sessionKey ? KM_WRONG_ORDER : KM_NO_SESSION_KEY;
  if (!in && length) return KM_WRONG_ORDER;
  const size_t block = heldBlock->size();
  // The plaintext pieces pass through one buffer of a fixed size, wiped however this ends.
  std::vector<uint8_t> plain;
  struct WipeOnExit {
    std::vector<uint8_t>& buffer;
    ~WipeOnExit() { SecretBlock::wipe(buffer.data(), buffer.size()); }
  } wipeOnExit{plain};
  try {
    plain.resize((length > (1u << 20) ? (1u << 20) : length) + block);
    while (length > 0) {
      const size_t step = length > (1u << 20) ? (1u << 20) : length;
      unsigned int n = contentCipher->step(in, static_cast<unsigned int>(step), plain.data());
      in += step;
      length -= step;
      if (n == 0) continue;
      // Whole blocks: all but the last go out now, the last waits for finish.
      if (heldOctets) out.insert(out.end(), heldBlock->data(), heldBlock->data() + heldOctets);
      out.insert(out.end(), plain.data(), plain.data() + n - block);
      std::memcpy(heldBlock->data(), plain.data() + n - block, block);
      heldOctets = block;
    }
  } catch (const std::bad_alloc&) {
    // A piece lost ends the message: what is left of it is not finished as whole.
    endMessage();
    messageState = 0;
    return KM_OUTPUT_FAILED;
  } catch (const LvException&) {
    endMessage();
    messageState = 0;
    return KM_DEVICE_ERROR;
  }
  return KM_OK;
}

int32_t KeyManager::processMsgFinish(std::vector<uint8_t>& out) {
  if (messageState == 2) return KM_WRONG_ORDER;
  if (messageState != 1) return sessionKey ? KM_WRONG_ORDER : KM_NO_SESSION_KEY;
  messageState = 2;
  // The session key serves one message: it is wiped however this one ends.
  sessionKey.reset();
  const size_t block = heldBlock->size();
  uint8_t rest[32];
  bool whole = true;
  try {
    // Without padding CBC leaves nothing, or refuses a part of a block.
    whole = contentCipher->finish(rest) == 0;
  } catch (const LvMemException&) {
    endMessage();
    return KM_DEVICE_ERROR;
  } catch (const LvException&) {
    whole = false;
  }
  // XML Encryption: the last octet counts the padding octets, 1 to a whole block; the others
  // are arbitrary.
  const size_t pad = heldOctets ? heldBlock->data()[block - 1] : 0;
  if (!whole || pad == 0 || pad > block) {
    endMessage();
    return KM_BAD_PADDING;
  }
  try {
    out.insert(out.end(), heldBlock->data(), heldBlock->data() + block - pad);
  } catch (const std::bad_alloc&) {
    endMessage();
    return KM_OUTPUT_FAILED;
  }
  endMessage();
  return KM_OK;
}

bool KeyManager::isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) const {
  const SignedCertificate* cert = decryptionHolder ? decryptionHolder->certificate() : nullptr;
  return cert && cert->tbsCertificate.issuer == issuer &&
         cert->tbsCertificate.serialNumber.equals(serial);
}
int32_t KeyManager::verifyCrtOnOstra(uint32_t, const SignedCertificate&, int32_t) {
  return KM_DEVICE_ERROR;
}
