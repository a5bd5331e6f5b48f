// The configuration of one library context: the stored configuration file, run-time overrides of
// numbered options that are never written to it, the active key profile and what was read from
// it, the signature and digest choices with their own run-time overrides, and the user's policy
// set. The key manager sees it through KeyConfigAccess, so the key layer stays below this one.
#pragma once

#include "api/pcfgfile.h"
#include "keys/keyconfig.h"
#include "keys/talprofile.h"
#include "pki/common/algid.h"
#include "pki/names/dname.h"
#include "pki/x509/x509ext.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct talCtx;
class ProfileParameters;
class TalProfile;

// What the configuration manager asks of the context's server database.
class ServerDirectory {
 public:
  virtual ~ServerDirectory() = default;
  // Appends the URLs of the servers of a kind, of one issuer (its name as text) or of all
  // issuers when issuer is NULL.
  virtual void findServers(int32_t kind, const char* issuer,
                           std::vector<std::string>& urls) const = 0;
};

// One walk over the servers of a kind (findFirstServer, then findNextServer).
struct ServerSearch {
  const talCtx* context = nullptr;
  std::vector<std::string> urls;
  size_t next = 0;
};

// Lock names are built in a buffer of this size.
const size_t CFG_LOCK_NAME_SIZE = 260;

// The signature algorithm of a scheme (0 RSA PKCS#1 v1.5, 1 DSA, 2 EC-DSA, 3 RSASSA-PSS with
// SHA-256, MGF1 with SHA-256 and a 32-octet salt); the others with SHA-1. False for another
// scheme.
bool cfgDefaultSignatureAlgorithm(int32_t scheme, AlgorithmIdentifier& out);
// The signature algorithm of a scheme with a digest (the hash library's ids; RSASSA-PSS with MGF1
// over the same digest and a salt as long as it). False when it cannot be built.
bool cfgSignatureAlgorithm(int32_t scheme, int32_t digest, AlgorithmIdentifier& out);

class ConfigurationManager : public KeyConfigAccess {
 public:
  ConfigurationManager();
  // Copies every member, the file's attributes and both override maps, and clones the profile.
  ConfigurationManager(const ConfigurationManager& other);
  ConfigurationManager& operator=(const ConfigurationManager&) = delete;
  ~ConfigurationManager() override;

  int32_t setContext(talCtx* context);
  void setServerDirectory(const ServerDirectory* directory) { servers = directory; }

  // ---- numbered options ----
  // The integer override, else the file's value (an option the file's table lacks is an
  // invariant failure).
  int32_t getIntOption(int32_t option) const;
  // The text override, NULL without one.
  const char* getStringOption(int32_t option) const;
  // runtimeOnly: the value becomes the option's override (any number), 1. Otherwise written to
  // the file: 1, or -2 when it cannot be stored.
  int setOption(int32_t option, int32_t value, bool runtimeOnly);

  // Writes the default configuration into the file, stopping silently at the first step that
  // fails.
  void writeDefaults() override;

  // ---- the profile ----
  // Takes the profile in every case: 0 and the profile is held (the one held so far is deleted);
  // 33 for NULL; or the error of a failing attribute query, and then the profile is deleted and
  // the manager left as it was.
  int32_t setProfile(TalProfile* profile);
  // The name of the profile's inter-process lock, written into buffer (CFG_LOCK_NAME_SIZE
  // bytes); reserved must be 0. Throws TalApiException 99 when a profile attribute cannot be
  // read or the name does not fit. The second form takes the system classification code (above
  // 5: a system that knows the "Global\" name space).
  char* getProfileLockName(char* buffer, int32_t reserved) const;
  char* getProfileLockName(char* buffer, int32_t reserved, uint32_t osCode) const;
  // The active profile's named settings, NULL without a profile.
  ProfileParameters* getProfileParameters() const;

  int32_t profileType() const { return profile.type; }
  const std::string& profileName() const { return profile.name; }
  const std::string& profilePath() const { return profile.path; }
  // The seven-day period: how long the network certificate query remembers what it fetched.
  int64_t cachePeriod() const { return period; }
  const std::string& pkcs11ModulePath() const { return profile.modulePath; }
  bool profileDataInMemory() const { return profile.dataInMemory; }
  // PKCS#11 attributes 5 and 6 are set (any length).
  bool tokenLabelPresent() const { return profile.labelPresent[0]; }
  bool keyLabelPresent() const { return profile.labelPresent[1]; }

  // ---- algorithms ----
  // The signature algorithm: the run-time override unless fileOnly, else the file's (its digest
  // replaced by the digest override unless fileOnly). False when there is none, or when the
  // digest override cannot be applied to it.
  bool getSignatureAlgorithm(AlgorithmIdentifier& out, bool fileOnly) const;
  int32_t getDigestAlgorithm(bool fileOnly, bool useDefault) const;
  // 1; 0 when the signature algorithm cannot take the digest (nothing changed); -2 when it
  // cannot be stored.
  int setDigestAlgorithm(int32_t digest, bool runtimeOnly);
  bool setSignatureAlgorithm(const AlgorithmIdentifier& algorithm, bool withDigest,
                             bool runtimeOnly);

  // ---- policies ----
  // Fills the set from the file's acceptable-policies list: true with anyPolicy alone when the
  // list is empty or absent; false with its policy OIDs otherwise (an empty set when the list
  // cannot be read: nothing is acceptable then).
  bool getAcceptablePolicies(OidSet& set) const;
  void getUserPolicySet(CertificatePolicies& out) const;

  // ---- servers ----
  // 0 and the first URL, or 31 when the server database has no server of the kind (for the
  // issuer when one is given).
  int32_t findFirstServer(ServerSearch& search, int32_t kind, const DistinguishedName* issuer,
                          std::string& url) const;
  // 0 and the next URL, 31 at the end.
  int32_t findNextServer(ServerSearch& search, std::string& url) const;

  TALCfgFile& file() { return cfgFile; }
  const TALCfgFile& file() const { return cfgFile; }

  // ---- KeyConfigAccess ----
  int32_t deviceType() const override { return device; }
  const TalProfile* activeProfile() const override { return activeProfilePtr.get(); }
  bool encodeConfiguration(std::vector<uint8_t>& der) const override;
  int loadConfiguration(const uint8_t* der, size_t length) override;
  int storeRootList(bool firstGroup, const ASNobject& certificates) override;
  int loadRootList(bool firstGroup, ASNobject& certificates) const override;
  int32_t getPin(int32_t usage, char* buffer, size_t* length) override;

 private:
  // What setProfile reads from a profile; replaced whole.
  struct ProfileData {
    int32_t type = 0;
    std::string name;
    std::string path;
    std::string modulePath;
    bool dataInMemory = false;
    bool pkcs11Flags[3] = {false, false, false};
    bool textPresent[2] = {false, false};
    std::string texts[2];
    bool flag37 = false;
    bool labelPresent[2] = {false, false};
  };

  bool adjustedToOverride(AlgorithmIdentifier& algorithm) const;

  int64_t period = 604800;  // seven days
  DistinguishedName name;
  talCtx* context = nullptr;
  const ServerDirectory* servers = nullptr;
  ServerSearch serverSearch;
  TalProfilePtr activeProfilePtr;
  ProfileData profile;
  TALCfgFile cfgFile;
  int32_t device = 0;
  CertificatePolicies userPolicies;
  std::map<int32_t, int32_t> intOverrides;
  std::map<int32_t, std::string> textOverrides;
  int32_t digestOverride = 0;
  AlgorithmIdentifier signatureOverride;
  bool digestOverrideSet = false;
  bool signatureOverrideSet = false;
  std::string strings[3];
};
