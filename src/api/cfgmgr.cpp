#include "api/cfgmgr.h"

#include "api/talctx.h"

#include "base/commonerror.h"
#include "base/file.h"
#include "base/miscutils.h"
#include "base/talexception.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvsha.h"
#include "keys/secretblock.h"
#include "keys/talprofile.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"

#include <cstring>

namespace {

const char* const SRC = "SRC/cfgmgr";
const size_t PROFILE_TEXT_SIZE = 260;
const int32_t LOCK_ERROR = 99;
const int32_t NO_SERVER = 31;
const int32_t DEFAULT_DIGEST = 1;
const int32_t PSS_DEFAULT_DIGEST = 3;

// Profile attributes read here.
enum : int32_t {
  ATTR_NAME = 0,
  ATTR_TYPE = 1,
  ATTR_MODULE = 3,
  ATTR_TOKEN_LABEL = 5,
  ATTR_KEY_LABEL = 6,
  ATTR_PKCS12_PATH = 9,
  ATTR_TEXT_1 = 14,
  ATTR_TEXT_2 = 15,
  ATTR_PATH = 16,
  ATTR_PKCS11_FLAG_1 = 27,
  ATTR_PKCS12_BYTES = 30,
  ATTR_PKCS11_FLAG_2 = 32,
  ATTR_PKCS11_FLAG_3 = 34,
  ATTR_FLAG_37 = 37,
};

// Used where the system has no per-file lock name: 28 printable characters, no backslash.
const char FIXED_LOCK_NAME[] = "TalVorin-3.9-ProfileLock-Key";
static_assert(sizeof FIXED_LOCK_NAME == 29, "28 characters");

// Reads an attribute of at most capacity bytes: the profile's answer, and the bytes.
int32_t readAttribute(const TalProfile& profile, int32_t number, size_t capacity,
                      std::vector<uint8_t>& value) {
  value.assign(capacity, 0);
  size_t length = capacity;
  int32_t answer = profile.getAttribute(number, value.data(), &length);
  value.resize(answer == PROFILE_ATTR_OK || answer == PROFILE_ATTR_DEFAULT ? length : 0);
  return answer;
}

// The bytes as text: up to the first zero.
std::string asText(const std::vector<uint8_t>& value) {
  std::string text(value.begin(), value.end());
  return text.substr(0, text.find('\0'));
}

int32_t readInteger(const TalProfile& profile, int32_t number, int32_t& out) {
  std::vector<uint8_t> value;
  int32_t answer = readAttribute(profile, number, 4, value);
  out = 0;
  if (value.size() == 4) std::memcpy(&out, value.data(), 4);
  return answer;
}

std::string sha1Hex(const uint8_t* data, size_t length) {
  uint8_t digest[20];
  try {
    LvSha1 sha;
    while (length > 0) {
      unsigned int step = length > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(length);
      sha.hash(data, step);
      data += step;
      length -= step;
    }
    sha.getHash(sizeof digest, digest);
  } catch (const LvException& e) {
    throw TalApiException(e.what(), LOCK_ERROR);
  }
  std::string hex;
  bytesToHexString(digest, sizeof digest, hex);
  return hex;
}

// The digest the signature algorithm names; a signature algorithm without one is an invariant
// failure.
int32_t namedDigest(const AlgorithmIdentifier& algorithm) {
  int digest = 0;
  checkInvariant(algorithm.getDigestType(&digest, nullptr), SRC, 1470,
                 "signatureAlgoIdToDigestParameters( algoId, &hashAlgo, NULL )");
  return digest;
}

// The same scheme with another digest; algorithm is left as it was when that cannot be made.
bool adjustDigest(AlgorithmIdentifier& algorithm, int32_t digest) {
  if (namedDigest(algorithm) == digest) return true;
  AlgorithmIdentifier adjusted;
  const ASNobjectId& oid = algorithm.algorithm;
  if (isRsaPssOid(oid)) {
    RsaPssParams present, rebuilt;
    int length = 0;
    if (!algorithm.parametersPresent || present.assignFromAny(algorithm.parameters) != 1 ||
        !digestTypeToOid(digest, nullptr, &length) ||
        !rebuilt.set(digest, 0, digest, length, 1) || !adjusted.set(id_RSASSA_PSS, &rebuilt))
      return false;
  } else if (isRsaSignatureOid(oid)) {
    if (!adjusted.setRsaSignature(digest)) return false;
  } else if (isDsaSignatureOid(oid)) {
    if (!adjusted.setDsaSignature(digest)) return false;
  } else if (isEcdsaSignatureOid(oid)) {
    if (!adjusted.setEcdsaSignature(digest)) return false;
  } else {
    checkInvariant(false, SRC, 1509, "0");
    return false;
  }
  algorithm = adjusted;
  return true;
}

void copyOut(char* buffer, const std::string& text) {
  std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace

bool cfgSignatureAlgorithm(int32_t scheme, int32_t digest, AlgorithmIdentifier& out) {
  switch (scheme) {
    case 0:
      return out.setRsaSignature(digest);
    case 1:
      return out.setDsaSignature(digest);
    case 2:
      return out.setEcdsaSignature(digest);
    case 3: {
      RsaPssParams params;
      int length = 0;
      return digestTypeToOid(digest, nullptr, &length) &&
             params.set(digest, 0, digest, length, 1) && out.set(id_RSASSA_PSS, &params);
    }
    default:
      return false;
  }
}

bool cfgDefaultSignatureAlgorithm(int32_t scheme, AlgorithmIdentifier& out) {
  return cfgSignatureAlgorithm(scheme, scheme == 3 ? PSS_DEFAULT_DIGEST : DEFAULT_DIGEST, out);
}

ConfigurationManager::ConfigurationManager() = default;

ConfigurationManager::ConfigurationManager(const ConfigurationManager& other)
    : period(other.period),
      context(other.context),
      servers(other.servers),
      serverSearch(other.serverSearch),
      profile(other.profile),
      cfgFile(other.cfgFile),
      device(other.device),
      intOverrides(other.intOverrides),
      textOverrides(other.textOverrides),
      digestOverride(other.digestOverride),
      signatureOverride(other.signatureOverride),
      digestOverrideSet(other.digestOverrideSet),
      signatureOverrideSet(other.signatureOverrideSet) {
  name = other.name;
  userPolicies.assign(other.userPolicies);
  for (int i = 0; i < 3; ++i) strings[i] = other.strings[i];
  if (other.activeProfilePtr) {
    switch (other.profile.type) {
      case TALPROFILE_PKCS12:
      case TALPROFILE_OSTRA:
      case TALPROFILE_PKCS11:
      case TALPROFILE_MEMORY:
        // clone() makes the class of the profile, which is the class of its type.
        activeProfilePtr.reset(other.activeProfilePtr->clone());
        break;
      default:
        checkInvariant(false, SRC, 187, "0");
    }
  }
}

ConfigurationManager::~ConfigurationManager() = default;

int32_t ConfigurationManager::setContext(talCtx* owner) {
  context = owner;
  return 0;
}

// ---------------------------------------------------------------------------
// Numbered options

int32_t ConfigurationManager::getIntOption(int32_t option) const {
  auto it = intOverrides.find(option);
  return it != intOverrides.end() ? it->second : cfgFile.getInt(option);
}

const char* ConfigurationManager::getStringOption(int32_t option) const {
  auto it = textOverrides.find(option);
  return it != textOverrides.end() ? it->second.c_str() : nullptr;
}

int ConfigurationManager::setOption(int32_t option, int32_t value, bool runtimeOnly) {
  if (!runtimeOnly) return cfgFile.setInt(option, value);
  intOverrides[option] = value;
  return 1;
}

void ConfigurationManager::writeDefaults() {
  const ASNobjectId& symmetric = device == 2 ? des_ede3_cbc : id_aes128_CBC;
  if (cfgFile.setSymmetricAlgorithm(symmetric) != 1) return;
  if (setDigestAlgorithm(DEFAULT_DIGEST, false) != 1) return;
  static const int32_t first[][2] = {{7, 0}, {8, 0}, {9, 0}, {10, 0}, {11, 0},
                                     {6, 0}, {3, 1}, {4, 0}, {5, 0}};
  for (const auto& row : first)
    if (setOption(row[0], row[1], false) != 1) return;
  if (cfgFile.setAttr5(1) != 1) return;
  // 35 and 37 share one attribute: both read 0 afterwards.
  static const int32_t second[][2] = {{2, 1},  {12, 0}, {14, 0}, {13, 0}, {16, 0},
                                      {17, 30}, {32, 0}, {18, 0}, {19, 0}, {22, 0},
                                      {27, 1},  {33, 0}, {34, 1}, {35, 1}, {37, 0}};
  for (const auto& row : second)
    if (setOption(row[0], row[1], false) != 1) return;
}

// ---------------------------------------------------------------------------
// The profile

int32_t ConfigurationManager::setProfile(TalProfile* incoming) {
  if (!incoming) return PROFILE_ATTR_INVALID;
  TalProfilePtr held(incoming);
  const TalProfile& p = *incoming;
  ProfileData data;
  std::vector<uint8_t> value;
  int32_t answer = readInteger(p, ATTR_TYPE, data.type);
  if (answer != PROFILE_ATTR_OK) return answer;
  answer = readAttribute(p, ATTR_NAME, PROFILE_TEXT_SIZE, value);
  if (answer != PROFILE_ATTR_OK) return answer;
  data.name = asText(value);

  for (int i = 0; i < 2; ++i) {
    answer = readAttribute(p, i == 0 ? ATTR_TEXT_1 : ATTR_TEXT_2, PROFILE_TEXT_SIZE, value);
    checkInvariant(answer == PROFILE_ATTR_OK, SRC, i == 0 ? 230 : 238, "0");
    data.textPresent[i] = value.size() >= 2 || (value.size() == 1 && value[0] != 0);
    data.texts[i] = asText(value);
  }
  int32_t flag = 0;
  checkInvariant(readInteger(p, ATTR_FLAG_37, flag) == PROFILE_ATTR_OK, SRC, 250, "0");
  data.flag37 = flag != 0;
  if (readAttribute(p, ATTR_PATH, PROFILE_TEXT_SIZE, value) == PROFILE_ATTR_OK)
    data.path = asText(value);

  int32_t deviceType = 0;
  switch (data.type) {
    case TALPROFILE_PKCS12: {
      deviceType = 1;
      size_t length = 0;
      answer = p.getAttribute(ATTR_PKCS12_BYTES, nullptr, &length);
      if (answer != PROFILE_ATTR_OK) return answer;
      data.dataInMemory = length != 0;
      break;
    }
    case TALPROFILE_OSTRA:
      deviceType = 2;
      break;
    case TALPROFILE_PKCS11: {
      deviceType = 4;
      answer = readAttribute(p, ATTR_MODULE, PROFILE_TEXT_SIZE, value);
      if (answer != PROFILE_ATTR_OK) return answer;
      data.modulePath = asText(value);
      const int32_t flags[3] = {ATTR_PKCS11_FLAG_1, ATTR_PKCS11_FLAG_2, ATTR_PKCS11_FLAG_3};
      for (int i = 0; i < 3; ++i) {
        answer = readInteger(p, flags[i], flag);
        if (answer != PROFILE_ATTR_OK) return answer;
        data.pkcs11Flags[i] = flag != 0;
      }
      // Presence only: the length is asked, so a label of any length counts.
      for (int i = 0; i < 2; ++i) {
        size_t length = 0;
        answer = p.getAttribute(i == 0 ? ATTR_TOKEN_LABEL : ATTR_KEY_LABEL, nullptr, &length);
        data.labelPresent[i] = answer == PROFILE_ATTR_OK || answer == PROFILE_ATTR_DEFAULT;
      }
      break;
    }
    case TALPROFILE_MEMORY:
      deviceType = 6;
      break;
    default:
      checkInvariant(false, SRC, 341, "0");
  }

  // Everything was read: the new profile replaces the old one whole.
  activeProfilePtr = std::move(held);
  profile = std::move(data);
  device = deviceType;
  serverSearch = ServerSearch();
  serverSearch.context = context;
  digestOverrideSet = false;
  return 0;
}

char* ConfigurationManager::getProfileLockName(char* buffer, int32_t reserved) const {
  return getProfileLockName(buffer, reserved, getSystemInfo().osCode);
}

char* ConfigurationManager::getProfileLockName(char* buffer, int32_t reserved,
                                               uint32_t osCode) const {
  checkInvariant(reserved == 0, SRC, 696, "0");
  if (!buffer) throw TalApiException(20);
  const bool newer = osCode > 5;
  const std::string global = "Global\\";
  if (device == 1 && activeProfilePtr) {
    std::vector<uint8_t> value;
    if (profile.dataInMemory) {
      size_t length = 0;
      if (activeProfilePtr->getAttribute(ATTR_PKCS12_BYTES, nullptr, &length) != PROFILE_ATTR_OK ||
          readAttribute(*activeProfilePtr, ATTR_PKCS12_BYTES, length, value) != PROFILE_ATTR_OK)
        throw TalApiException(LOCK_ERROR);
      std::string hex = sha1Hex(value.data(), value.size());
      // The file's bytes may be a secret; their copy goes.
      SecretBlock::wipe(value.data(), value.size());
      copyOut(buffer, global + hex);
      return buffer;
    }
    if (readAttribute(*activeProfilePtr, ATTR_PKCS12_PATH, PROFILE_TEXT_SIZE, value) !=
        PROFILE_ATTR_OK)
      throw TalApiException(LOCK_ERROR);
    std::string path = asText(value);
    if (newer) {
      std::string text = path + "\\tal.pfx.lck";
      copyOut(buffer, global + sha1Hex(reinterpret_cast<const uint8_t*>(text.data()),
                                       text.size()));
      return buffer;
    }
    path += ".lck";
    if (path.size() >= CFG_LOCK_NAME_SIZE) throw TalApiException(LOCK_ERROR);
    copyOut(buffer, path);
    return buffer;
  }
  copyOut(buffer, newer ? global + FIXED_LOCK_NAME : std::string(FIXED_LOCK_NAME));
  return buffer;
}

ProfileParameters* ConfigurationManager::getProfileParameters() const {
  return activeProfilePtr ? &activeProfilePtr->parameters() : nullptr;
}

// ---------------------------------------------------------------------------
// Algorithms

bool ConfigurationManager::adjustedToOverride(AlgorithmIdentifier& algorithm) const {
  return !digestOverrideSet || adjustDigest(algorithm, digestOverride);
}

bool ConfigurationManager::getSignatureAlgorithm(AlgorithmIdentifier& out, bool fileOnly) const {
  if (!fileOnly && signatureOverrideSet) {
    out = signatureOverride;
    return true;
  }
  AlgorithmIdentifier stored;
  if (!cfgFile.getSignatureAlgorithmAttr(stored)) return false;
  if (!fileOnly && !adjustedToOverride(stored)) return false;
  out = stored;
  return true;
}

int32_t ConfigurationManager::getDigestAlgorithm(bool fileOnly, bool useDefault) const {
  if (!fileOnly && digestOverrideSet) return digestOverride;
  AlgorithmIdentifier algorithm;
  if (getSignatureAlgorithm(algorithm, fileOnly)) {
    int digest = 0;
    if (algorithm.getDigestType(&digest, nullptr)) return digest;
    return useDefault ? DEFAULT_DIGEST : 0;
  }
  return cfgFile.getAttr22(useDefault);
}

int ConfigurationManager::setDigestAlgorithm(int32_t digest, bool runtimeOnly) {
  AlgorithmIdentifier algorithm;
  if (runtimeOnly) {
    // The signature override follows the digest; a digest it cannot take changes nothing.
    bool haveAlgorithm = signatureOverrideSet;
    if (haveAlgorithm)
      algorithm = signatureOverride;
    else
      haveAlgorithm = cfgFile.getSignatureAlgorithmAttr(algorithm);
    if (haveAlgorithm) {
      if (!adjustDigest(algorithm, digest)) return 0;
      signatureOverride = algorithm;
      signatureOverrideSet = true;
    }
    digestOverride = digest;
    digestOverrideSet = true;
    return 1;
  }
  if (cfgFile.getSignatureAlgorithmAttr(algorithm)) {
    if (!adjustDigest(algorithm, digest)) return 0;
    if (cfgFile.setSignatureAlgorithmAttr(algorithm) != 1) return EASN_MEM;
  }
  return cfgFile.setAttr22(digest);
}

bool ConfigurationManager::setSignatureAlgorithm(const AlgorithmIdentifier& algorithm,
                                                 bool withDigest, bool runtimeOnly) {
  int digest = 0;
  if (runtimeOnly) {
    signatureOverride = algorithm;
    signatureOverrideSet = true;
    if (!withDigest) return true;
    if (!algorithm.getDigestType(&digest, nullptr)) return false;
    digestOverride = digest;
    digestOverrideSet = true;
    return true;
  }
  if (cfgFile.setSignatureAlgorithmAttr(algorithm) != 1) return false;
  if (!withDigest) return true;
  return algorithm.getDigestType(&digest, nullptr) && cfgFile.setAttr22(digest) == 1;
}

// ---------------------------------------------------------------------------
// Policies and servers

bool ConfigurationManager::getAcceptablePolicies(OidSet& set) const {
  set.clear();
  ASNsequenceList<PolicyIdAndNote> policies;
  int read = cfgFile.getAttr1(policies);
  if (read == EASN_MEM) throwBadAllocation();
  if (read != 1) return false;
  if (policies.GetCount() == 0) {
    if (set.addOid(anyPolicy) != 1) throwBadAllocation();
    return true;
  }
  for (POSITION pos = policies.GetHeadPosition(); pos;) {
    const PolicyIdAndNote* policy = policies.GetNext(pos);
    if (policy && set.addOid(policy->policyId) != 1) throwBadAllocation();
  }
  return false;
}

void ConfigurationManager::getUserPolicySet(CertificatePolicies& out) const {
  out.assign(userPolicies);
}

int32_t ConfigurationManager::findFirstServer(ServerSearch& search, int32_t kind,
                                              const DistinguishedName* issuer,
                                              std::string& url) const {
  search = ServerSearch();
  search.context = context;
  if (!servers) return NO_SERVER;
  if (issuer) {
    std::unique_ptr<char[]> text(issuer->toText(0));
    if (!text) return NO_SERVER;
    servers->findServers(kind, text.get(), search.urls);
  } else {
    servers->findServers(kind, nullptr, search.urls);
  }
  return findNextServer(search, url);
}

int32_t ConfigurationManager::findNextServer(ServerSearch& search, std::string& url) const {
  if (search.next >= search.urls.size()) return NO_SERVER;
  url = search.urls[search.next++];
  return 0;
}

// ---------------------------------------------------------------------------
// What the key manager reads and writes

bool ConfigurationManager::encodeConfiguration(std::vector<uint8_t>& der) const {
  der.clear();
  int length = cfgFile.encodeVector(der);
  return length > 0 && static_cast<size_t>(length) == der.size();
}

int ConfigurationManager::loadConfiguration(const uint8_t* der, size_t length) {
  int loaded = cfgFile.load(der, length);
  if (loaded == TALCFG_OK) return 1;
  return loaded == TALCFG_NO_MEMORY ? EASN_MEM : 0;
}

int ConfigurationManager::storeRootList(bool firstGroup, const ASNobject& certificates) {
  return firstGroup ? cfgFile.setAttr11(certificates) : cfgFile.setAttr8(certificates);
}

int ConfigurationManager::loadRootList(bool firstGroup, ASNobject& certificates) const {
  return firstGroup ? cfgFile.getAttr11(certificates) : cfgFile.getAttr8(certificates);
}

int32_t ConfigurationManager::getPin(int32_t usage, char* buffer, size_t* length) {
  if (!context) return 41;
  int32_t external = 0;
  int32_t r = context->getPin(usage, buffer, length, &external, false);
  return r == 0 && external ? 41 : r;
}
