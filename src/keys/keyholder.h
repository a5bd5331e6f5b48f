// A private key the key manager uses, whatever keeps it (a PKCS#12 file read into memory, a
// PKCS#11 token): its certificate and the two operations the library asks of it. The key
// manager owns one holder per usage, or one holder for both (key-usage bit 2); it checks the
// arguments before it calls, so a holder sees non-NULL buffers of the stated lengths. Clones of
// a library context share their source's holders and may run in other threads: a holder's
// operations must be safe to call concurrently.
//
// Statuses are the key manager's (keymanager.h): 0 success, 1 bad arguments, 4 out of memory,
// 20 device error, 37 no key for the operation; a decryption that does not give a session key
// answers 18, whatever the cause. XML decryption maps only 0, 1, 2, 4, 13, 14, 18, 25, 27 and
// 37 of a session-key decryption (any other is a failed invariant there): a device reports its
// failures there as 13 (PIN refused), 14 (the RSA operation failed), 25 (no answer from the
// device) or 27 (device blocked), not as 20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class SecretBlock;
class SignedCertificate;

class KeyHolder {
 public:
  virtual ~KeyHolder() = default;

  // The certificate of the key; NULL for a key that came without one.
  virtual const SignedCertificate* certificate() const = 0;
  // The key's own scheme: 0 RSA PKCS#1 v1.5 (an RSA key that may sign either way), 1 DSA,
  // 2 EC-DSA, 3 RSASSA-PSS (an RSA key restricted to PSS).
  virtual int32_t scheme() const = 0;
  // Bit length of the modulus or of the group order.
  virtual uint32_t keyBits() const = 0;
  // Whether the key signs with the digest (hash library ids: 1 SHA-1, 2 SHA-224, 3 SHA-256,
  // 4 SHA-384, 5 SHA-512, 6 RIPEMD-128, 7 RIPEMD-160, 8 MD5).
  virtual bool supportsDigest(int32_t digestId) const = 0;

  // Signs a digest computed with digestId under a scheme (numbered as scheme(); an RSA key of
  // scheme 0 takes 0 and 3, PSS being MGF1 over the same digest with a salt as long as it).
  // RSA gives exactly the modulus octets, DSA and EC-DSA the DER Dss-Sig-Value /
  // ECDSA-Sig-Value. 0; 1 when the digest length is not the hash's, the digest is not
  // supported or the scheme is not the key's; 4; 20; 37 when the key cannot sign.
  virtual int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest,
                       size_t digestLength, std::vector<uint8_t>& signature) = 0;

  // Undoes RSA PKCS#1 v1.5 encryption (block type 2) of a session key. 0 with the key in
  // sessionKey (a block of exactly its length); 18 for every wrong length, bad padding or
  // value not below the modulus, through one path whose time does not depend on which; 4;
  // 13, 14, 25, 27 (above); 37 when the key cannot decrypt.
  virtual int32_t decryptSessionKey(const uint8_t* encrypted, size_t length,
                                    std::unique_ptr<SecretBlock>& sessionKey) = 0;
};
