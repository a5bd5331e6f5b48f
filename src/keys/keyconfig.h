// What the key manager needs of the library's configuration, seen through a narrow interface so
// that the key layer does not depend on the layer that owns the configuration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ASNobject;
class TalProfile;

class KeyConfigAccess {
 public:
  virtual ~KeyConfigAccess() = default;
  // Device type of the active profile: 1 PKCS#12, 2 hardware device, 4 PKCS#11, 6 memory.
  virtual int32_t deviceType() const = 0;
  virtual const TalProfile* activeProfile() const = 0;
  virtual void writeDefaults() = 0;
  // The DER of the configuration file; false when it cannot be encoded.
  virtual bool encodeConfiguration(std::vector<uint8_t>& der) const = 0;
  // Replaces the configuration by a stored one, all or nothing: 1 loaded, -2 out of memory,
  // any other value refused.
  virtual int loadConfiguration(const uint8_t* der, size_t length) = 0;
  // Stores a certificate list in the configuration (first group .2.5.11, second .2.5.8):
  // 1, or -2 when it cannot be stored.
  virtual int storeRootList(bool firstGroup, const ASNobject& certificates) = 0;
  // Decodes the stored list of a group into certificates: 1 (also when none is stored, the
  // object untouched), -2 out of memory, 0 malformed.
  virtual int loadRootList(bool firstGroup, ASNobject& certificates) const = 0;
  // The PIN the user gave for a key usage (1 signing, 2 decryption), copied into buffer with a
  // terminating zero and its length (without the zero) in *length: 0; 34 the buffer is too
  // short (*length the size needed); 41 none given, or one entered on an external pad.
  virtual int32_t getPin(int32_t usage, char* buffer, size_t* length) {
    (void)usage;
    (void)buffer;
    (void)length;
    return 41;
  }
};
