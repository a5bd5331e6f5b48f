// The recipient certificate search over a library context.
#include "api/ctxrecipients.h"

#include "api/ctxrevocation.h"
#include "net/ldapclient.h"

ContextRecipients::ContextRecipients(talCtx& context) : context(context) {
  contextServices(context).refreshSettings();
}

int ContextRecipients::buildPath(CertificatePath& path, const SignedCertificate& certificate) {
  return contextServices(context).builder(context.report).buildPathForCertificate(
      path, certificate, PATH_PURPOSE_SIGNER, false);
}

int ContextRecipients::verifyPath(CertificatePath& path) {
  const RevocationArgs args;  // now, online, no references
  return contextServices(context).verification.verifyPath(path, args, false, PATH_PURPOSE_SIGNER,
                                                          false, &context.report, nullptr);
}

int32_t ContextRecipients::option(int number) {
  return context.configuration.getIntOption(number);
}

void ContextRecipients::certificateServerBases(std::vector<std::string>& out) {
  ServerSearch search;
  std::string url;
  for (int32_t r = context.configuration.findFirstServer(search, NET_SERVER_CERTIFICATES, nullptr,
                                                         url);
       r == 0; r = context.configuration.findNextServer(search, url)) {
    const std::string base = ldapUrlBase(url);
    if (!base.empty()) out.push_back(base);
  }
}

int ContextRecipients::queryByEmail(const std::string& base, const std::string& address,
                                    FetchedCertificates& out, int32_t parameter) {
  return context.network.queryForCertificates(base, address, out, true, parameter);
}

int ContextRecipients::queryByDn(const DistinguishedName& subject, FetchedCertificates& out) {
  return context.network.queryForCertificatesByDn(subject, out);
}

// Without a database, or when it fails, no search was recorded: the network
// is asked again, which costs time but never hides a certificate.
int64_t ContextRecipients::lastNetworkSearch(const std::string& address) {
  try {
    DbCrtBase* db = context.certificateDb.certificateDb();
    return db ? db->getNetCertTime(address) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

void ContextRecipients::recordNetworkSearch(const std::string& address) {
  try {
    if (DbCrtBase* db = context.certificateDb.certificateDb()) db->setNetCertTime(address);
  } catch (const std::exception&) {
  }
}
