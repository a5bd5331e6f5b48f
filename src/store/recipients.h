// Recipient certificate search: before a message is encrypted, every
// recipient (an e-mail address or a binary descriptor) gets the certificates
// of encryption keys whose certification path verifies, looked up in the
// stores and the database and, when configured, on the certificate servers.
// Everything is narrated into the context's report; results are the
// library's code table (0, 10, 20, 39, 64, 65, 67, 68, 69, 71, 91, 100,
// 155, 158, or a lower layer's code passed up).
#pragma once

#include "pki/x509/crl.h"
#include "store/lcrtstore.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CertificateManager;
class ReportStream;

// Result codes of the search.
enum : int {
  RECIP_OK = 0,
  RECIP_WARNINGS = 10,
  RECIP_BAD_PARAMETER = 20,
  RECIP_DEVICE_ERROR = 39,
  RECIP_EXPIRED = 64,
  RECIP_NOT_YET_VALID = 65,
  RECIP_NO_PATH = 67,
  RECIP_REVOKED = 68,
  RECIP_SUSPENDED = 69,
  RECIP_NO_POLICY = 71,
  RECIP_NO_VALID_CERTIFICATE = 91,
  RECIP_NO_MEMORY = 100,
  RECIP_PATH_ERROR = 155,
  RECIP_DATABASE_ERROR = 158
};

// Configuration options the search reads.
enum : int {
  RECIP_OPT_NETWORK_SEARCH = 6,
  RECIP_OPT_NO_SEARCH_RECORD = 18,
  RECIP_OPT_QUERY_PARAMETER = 22,
  RECIP_OPT_SKIP_FAILED = 30,
  RECIP_OPT_SEARCH_INTERVAL = 32
};

// warningFlags bits set by the search.
enum : uint32_t {
  RECIP_WARN_NO_DATA_END = 0x1,
  RECIP_WARN_NO_DATA_CA = 0x2,
  RECIP_WARN_STALE_END = 0x4,
  RECIP_WARN_STALE_CA = 0x8,
  RECIP_WARN_SKIPPED = 0x10000
};

// A recipient list given as text: addresses longer than this are refused.
constexpr size_t MAX_RECIPIENT_ADDRESS = 256;

using RecipientPaths = std::vector<std::unique_ptr<CertificatePath>>;
using FetchedCertificates = std::vector<std::unique_ptr<SignedCertificate>>;

// What the search needs of the library context.
class RecipientContext {
 public:
  virtual ~RecipientContext() = default;
  virtual ReportStream& report() = 0;
  virtual CertificateManager& certificates() = 0;
  // Path building for an encryption certificate from every source (the path
  // builder's codes) and its verification with the context's report and no
  // collector (the path verification's codes).
  virtual int buildPath(CertificatePath& path, const SignedCertificate& certificate) = 0;
  virtual int verifyPath(CertificatePath& path) = 0;
  virtual int32_t option(int number) = 0;
  // The base DN of every configured certificate server (kind 1, any issuer),
  // in order, repeats included.
  virtual void certificateServerBases(std::vector<std::string>& out) = 0;
  // The network manager's searches: 0 when the query ran, 1 out of memory,
  // another code when no query could run.
  virtual int queryByEmail(const std::string& base, const std::string& address,
                           FetchedCertificates& out, int32_t parameter) = 0;
  virtual int queryByDn(const DistinguishedName& subject, FetchedCertificates& out) = 0;
  // When the database last recorded a network search of the address (seconds
  // since 1970, 0 never), and recording the current time for it.
  virtual int64_t lastNetworkSearch(const std::string& address) = 0;
  virtual void recordNetworkSearch(const std::string& address) = 0;
  virtual int64_t now() = 0;
  virtual void rememberCertificate(const SignedCertificate& certificate) = 0;
  virtual uint32_t& warningFlags() = 0;
};

// One recipient decoded from a binary descriptor.
struct RecipientDescriptor {
  int kind = 0;
  DistinguishedName subject;
  DistinguishedName issuer;  // kind 5
  std::unique_ptr<SignedCertificate> certificate;  // kind 4
  size_t consumed = 0;
};

// Decodes the descriptor at `data` (`size` bytes available): 0, 20 for a bad
// kind, a length past the end or a value that does not decode in exactly its
// length, 100 when memory runs out.
int parseRecipientDescriptor(const uint8_t* data, size_t size, RecipientDescriptor& out);
// Splits a text list at ",", trimming blanks and skipping empty items: 0, or
// 20 for an address longer than MAX_RECIPIENT_ADDRESS.
int splitRecipientAddresses(const char* text, size_t size, std::vector<std::string>& out);

int buildRecipientCertificatePath(RecipientContext& context, const SignedCertificate& certificate,
                                  CertificatePath& path);
int buildRecipientPath(RecipientContext& context, const CertificateList& candidates,
                       RecipientPaths& paths);
int searchNetworkCertificates(RecipientContext& context, const char* address,
                              const DistinguishedName& subject, CertificateList& out);
// The recipient is a zero-terminated address (data[0] != 0) or a descriptor;
// `size` bounds either. bytesRead must be null for an address.
int findRecipientCertificates(RecipientContext& context, const uint8_t* data, size_t size,
                              RecipientPaths& paths, size_t* bytesRead);
// Recipients as a text list or a run of descriptors ended by one whose
// second byte is 0; one path list per recipient.
int findAllRecipientCertificates(std::vector<RecipientPaths>& out, const uint8_t* recipients,
                                 size_t size, RecipientContext& context);
void pathWarnings(const std::vector<RecipientPaths>& paths, RecipientContext& context);
