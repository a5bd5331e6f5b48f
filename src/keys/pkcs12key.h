// Keys of a PKCS#12 file: the file read with the user's PIN, each private key paired with the
// certificate of the same public key, and the keys chosen for signing and for decryption by
// their certificates' key usage.
#pragma once

#include "keys/keyholder.h"
#include "pki/x509/cert.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The two keys of a profile; the same holder twice when one key serves both usages. Beside them
// every certificate of the file, in its order: the issuers a signer sends with its signature.
struct Pkcs12Keys {
  std::shared_ptr<KeyHolder> signing;
  std::shared_ptr<KeyHolder> decryption;
  std::vector<SharedCertificate> certificates;
};

// Largest PKCS#12 file taken (keys, a few certificates and their chains).
const size_t PKCS12_MAX_FILE_OCTETS = 1u << 20;
// Most private keys a file may hold.
const size_t PKCS12_MAX_KEYS = 16;

// Reads the keys of the file with the PIN (its text as given, UTF-8; PKCS#12 takes it as a
// BMPString). A key signs when its certificate's keyUsage is absent or allows digitalSignature
// or nonRepudiation, decrypts when it is an RSA key and keyUsage is absent or allows
// keyEncipherment; a key without certificate serves what its kind allows, and only when no key
// of the file has a certificate. An EC key written without its public point is paired by a
// signature, tried on the first 16 EC certificates of the file only. Key-manager statuses:
//   0 one key at least; 4 out of memory; 12 not a PKCS#12 file, one whose contents do not
//   decode, or one of more than PKCS12_MAX_KEYS keys; 13 a wrong PIN or a file changed since it was protected; 19 an integrity or
//   encryption algorithm not taken here; 37 no key, or none usable; 42 two keys for one usage.
int32_t readPkcs12Keys(const uint8_t* file, size_t length, const char* pin, size_t pinLength,
                       Pkcs12Keys& keys);
