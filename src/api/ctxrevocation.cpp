#include "api/ctxrevocation.h"

#include "base/memfile.h"
#include "base/talexception.h"
#include "base/reportstream.h"
#include "keys/talprofile.h"
#include "net/netmanager.h"

#include <new>

namespace {

const int32_t OPTION_STRICT_FOR_CA = 27;

void appendAll(CertList& got, CertificateList& out) {
  for (auto& c : got) {
    if (out.append(c.get()) != 1) throw std::bad_alloc();
    c.release();
  }
}

}  // namespace

// ---- path building ----

ContextBuildEnvironment::ContextBuildEnvironment(talCtx& ctx, PathVerification& verification)
    : ContextPathEnvironment(ctx.configuration, ctx.keyManager, verification), context(ctx) {}

bool ContextBuildEnvironment::canQueryCertificates(const DistinguishedName& issuer) {
  return context.network.canQueryNetwork(NET_SERVER_CERTIFICATES, &issuer);
}

int ContextBuildEnvironment::queryCertificateById(const DistinguishedName& issuer,
                                                  const ASNinteger& serial, CertificateList& out) {
  CertList got;
  const int r = context.network.queryForCertificateById(issuer, serial, got);
  appendAll(got, out);
  return r;
}

int ContextBuildEnvironment::queryCertificatesByDn(const DistinguishedName& subject,
                                                   CertificateList& out) {
  CertList got;
  const int r = context.network.queryForCertificatesByDn(subject, got);
  appendAll(got, out);
  return r;
}

void ContextBuildEnvironment::rememberCertificate(const SignedCertificate& certificate) {
  context.rememberCertificate(certificate);
}

// Each operation on the context (one document) is one batch of its record.
bool ContextBuildEnvironment::learnedEarlier(const SignedCertificate& certificate) {
  return context.collectedStore.fromEarlierBatch(certificate);
}

// ---- the revocation manager's context ----

void ContextRevocationEnvironment::trustedListCertificates(
    std::vector<const SignedCertificate*>& out) {
  for (const auto& service : context.keyManager.trustedListServices())
    for (const auto& points : service.second.points)
      for (const auto& point : points) out.push_back(point.get());
}

void ContextRevocationEnvironment::trustPoints(bool qualified,
                                               std::vector<const SignedCertificate*>& out) {
  context.keyManager.rootCertificates(qualified, out);
}

void ContextRevocationEnvironment::certificatesBySubject(const DistinguishedName& subject,
                                                         CertificateList& out) {
  context.certificates.findInStores(out, subject, nullptr, false, false);
}

int ContextRevocationEnvironment::verifyCertificatePath(const SignedCertificate& cert,
                                                        int32_t purpose,
                                                        const RevocationArgs& args) {
  // Responder and CRL-issuer paths are narrated nowhere: the signature's
  // report names the data used, not how its issuers were found. No sink: the
  // narration is not even made (it would be unbounded and unpaid).
  ReportStream report(nullptr);
  CertificatePath path;
  int r = services.builder(report).buildPathForCertificate(path, cert, purpose, false);
  if (r != 0) return r;
  return services.verification.verifyPath(path, args, false, purpose, false, nullptr, nullptr);
}

int ContextRevocationEnvironment::verifyPathByKeyId(const DistinguishedName& issuer,
                                                    const AuthorityKeyIdentifier& akid,
                                                    const RevocationArgs& args,
                                                    SignedCertificate& end) {
  ReportStream report(nullptr);
  CertificatePath path;
  bool found = false;
  int r = services.builder(report).buildPathForIssuerKeyId(path, issuer, akid,
                                                           PATH_PURPOSE_CRL_ISSUER, false, found);
  if (r == 0 && (!found || path.GetCount() == 0)) r = PATH_RESULT_NO_PATH;
  if (r == 0)
    r = services.verification.verifyPath(path, args, false, PATH_PURPOSE_CRL_ISSUER, false,
                                         nullptr, nullptr);
  if (r == 0) end = path.elementAt(0)->certificate;
  return r;
}

void ContextRevocationEnvironment::rememberCertificate(const SignedCertificate& certificate) {
  context.rememberCertificate(certificate);
}

void ContextManagedRevocation::removeMarkedCrlItems() { CacheManager::instance().removeMarkedCrlItems(); }

void ContextManagedRevocation::rememberCrl(const SignedCertRevList& crl) {
  context.rememberCrl(crl);
}

// ---- the services ----

ContextRevocation::ContextRevocation(talCtx& ctx)
    : context(ctx),
      crlDatabase(ctx.database),
      network(ctx.network, &ctx.networkSettings),
      manager(ctx.clock, &ctx.report),
      managed(manager, ctx),
      build(ctx, verification),
      environment(ctx, *this) {
  manager.database = &crlDatabase;
  manager.environment = &environment;
  manager.network = &network;
  verification.report = &ctx.report;
  verification.revocation = &managed;
}

ContextRevocation::~ContextRevocation() = default;

int32_t ContextRevocation::importCrl(const SignedCertRevList& crl) {
  // The database's answers are the ones the flush expects (0, 4, 6 go on; 1, 2 fail). A CRL
  // whose scope cannot be read (88) is passed like one that does not decode, so the context
  // can still close.
  try {
    return crlDatabase.importCrl(crl);
  } catch (const TalApiException& e) {
    if (e.getCode() != 88) throw;
    return CRLDB_UNDECODABLE;
  }
}

RevocationLink* ContextRevocation::cloneFor(talCtx* clone) const {
  auto copy = std::make_unique<ContextRevocation>(*clone);
  copy->manager.copyRevocationData(manager);
  return copy.release();
}

void ContextRevocation::refreshSettings() {
  manager.strictForCa = context.configuration.getIntOption(OPTION_STRICT_FOR_CA) != 0;
  userPolicies.clear();
  context.configuration.getUserPolicySet(userPolicies);
  verification.userPolicySet = userPolicies.GetCount() ? &userPolicies : nullptr;
  verification.profileKeyUsages.clear();
  if (const TalProfile* profile = context.configuration.activeProfile()) {
    for (size_t i = 0; i < profile->getExtKeyUsageCount(); ++i) {
      std::string oid, name;
      profile->getExtKeyUsage(i, oid, name);
      ASNobjectId id;
      if (id.set(oid.c_str()) == 1) verification.profileKeyUsages.push_back(id);
    }
  }
}

ContextRevocation& contextServices(talCtx& ctx) {
  return static_cast<ContextRevocation&>(*ctx.revocation);
}

// ---- a document's changes ----

VerificationSnapshot::VerificationSnapshot(talCtx& ctx)
    : context(ctx),
      revocation(contextServices(ctx).manager.save()),
      certificates(ctx.collectedStore.size()),
      nothingCollected(ctx.nothingCollected),
      crls(ctx.collectedCrls.size()) {
  ctx.verifiedCache.begin();
}

VerificationSnapshot::~VerificationSnapshot() {
  if (!open) return;
  context.verifiedCache.commit();
  contextServices(context).manager.commit(revocation);
}

void VerificationSnapshot::restore() noexcept {
  if (!open) return;
  open = false;
  contextServices(context).manager.restore(revocation);
  context.collectedStore.truncate(certificates);
  context.nothingCollected = nothingCollected;
  context.truncateCollectedCrls(crls);
  context.verifiedCache.rollback();
}
