#include "store/revmgr.h"

#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "pki/x509/x509ext.h"

#include <algorithm>

namespace {

ReportStream& silent() {
  static ReportStream r(nullptr);
  return r;
}

std::vector<unsigned char> signatureKey(const SignedCertRevList& crl) {
  const unsigned char* p = crl.signature.bits();
  return p ? std::vector<unsigned char>(p, p + crl.signature.bitsLength())
           : std::vector<unsigned char>();
}

bool insideValidity(const TBSCertificate& tbs, const X509time& t) {
  return !(t < tbs.validity.notBefore) && !(tbs.validity.notAfter < t);
}

bool digest(int hashId, int length, const unsigned char* data, size_t n,
            std::vector<unsigned char>& outHash) {
  LvGenericHash h(static_cast<LvHashAlgo>(hashId));
  h.init();
  if (n) h.step(data, static_cast<unsigned int>(n));
  h.finish();
  outHash.resize(static_cast<size_t>(length));
  h.getHash(static_cast<unsigned int>(length), outHash.data());
  return true;
}

bool sameOctets(const ASNoctstr& a, const std::vector<unsigned char>& b) {
  return a.contentLength() == static_cast<int>(b.size()) &&
         (b.empty() || std::equal(b.begin(), b.end(), a.data()));
}

// Reason code and hold instruction of an entry's extensions; -1 when no reason.
long reasonOf(const Extensions& exts) {
  const Extension* e = findExtensionByOid(exts, id_ce_cRLReasons);
  ASNenum code;
  if (!e || code.decodeOctets(e->extnValue) < 1) return -1;
  return static_cast<long>(code.toLong());
}

bool holdInstructionOtherThanNone(const Extensions& exts) {
  const Extension* e = findExtensionByOid(exts, id_ce_holdInstructionCode);
  ASNobjectId oid;
  if (!e || oid.decodeOctets(e->extnValue) < 1) return false;
  return !(oid == id_holdinstruction_none);
}

}  // namespace

ReportStream& RevocationManager::out() { return report ? *report : silent(); }

bool RevocationManager::checkCrlExtensions(const SignedCertRevList& crl) {
  const Extensions& exts = crlExtensionsOf(crl);
  for (POSITION pos = exts.GetHeadPosition(); pos;) {
    const Extension* e = exts.GetNext(pos);
    if (!e->critical.get()) continue;
    const ASNobjectId& id = e->extnID;
    if (id == id_ce_authorityKeyIdentifier || id == id_ce_cRLNumber || id.equalsText("2.5.29.40") ||
        id.equalsText("2.5.29.47"))
      continue;
    if (id == id_ce_issuingDistributionPoint) {
      IssuingDistributionPoint idp;
      if (idp.decodeOctets(e->extnValue) < 1) {
        out() << "Niepoprawny format rozszerzenia ISSUING_DISTRIBUTION_POINT w liście CRL";
        return false;
      }
      if (idp.onlyContainsUserCerts.get() && idp.onlyContainsCACerts.get()) {
        out() << "Rozsczerzenie ISSUING_DISTRIBUTION_POINT w liście CRL nie moze jednocześnie mieć "
                 "ustawionych flag onlyCACerts i onlyUserCerts";
        return false;
      }
      if (idp.onlySomeReasonsPresent) {
        out() << "Rozsczerzenie ISSUING_DISTRIBUTION_POINT w liście CRL zwiera nieobsługiwane pole "
                 "onlySomeReasons";
        return false;
      }
      if (idp.indirectCRL.get()) {
        out() << "Rozsczerzenie ISSUING_DISTRIBUTION_POINT w liście CRL zwiera nieobsługiwane pole "
                 "indirectCRL";
        return false;
      }
      continue;
    }
    out() << "Nieobsługiwane krytyczne rozszerzenie listy CRL: ";
    std::string text;
    id.toString(text);
    out().writeFormatted("%s", text.c_str());
    return false;
  }
  return true;
}

bool RevocationManager::checkEntryExtensions(const Extensions& exts) {
  for (POSITION pos = exts.GetHeadPosition(); pos;) {
    const Extension* e = exts.GetNext(pos);
    if (!e->critical.get()) continue;
    if (e->extnID == id_ce_cRLReasons || e->extnID == id_ce_holdInstructionCode ||
        e->extnID == id_ce_invalidityDate)
      continue;
    out() << "Nieobsługiwane krytyczne rozszerzenie listy CRL: ";
    std::string text;
    e->extnID.toString(text);
    out().writeFormatted("%s", text.c_str());
    return false;
  }
  return true;
}

const SingleResponse* RevocationManager::findSingleResponse(const BasicOCSPResponse& response,
                                                            const SignedCertificate& cert,
                                                            const SignedCertificate& issuer,
                                                            const X509time* time) {
  const TBSCertificate& tbs = cert.tbsCertificate;
  std::vector<unsigned char> nameDer;
  if (tbs.issuer.encodeVector(nameDer) < 1) return nullptr;
  const ASNbitstr& key = issuer.tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
  X509time now;
  const auto& list = response.tbsResponseData.responses;
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const SingleResponse* s = list.GetNext(pos);
    const CertID& id = s->certID;
    int length = 0, hashId = 0;
    if (!id.serialNumber.equals(tbs.serialNumber) ||
        !digestOidToType(id.hashAlgorithm.algorithm, &length, &hashId))
      continue;
    std::vector<unsigned char> h;
    digest(hashId, length, nameDer.data(), nameDer.size(), h);
    if (!sameOctets(id.issuerNameHash, h)) continue;
    digest(hashId, length, key.bits(), static_cast<size_t>(key.bitsLength()), h);
    if (!sameOctets(id.issuerKeyHash, h)) continue;
    if (!insideValidity(tbs, s->thisUpdate)) {
      out() << "Odpowiedź OCSP jest poza okresem ważności certyfikatu.";
      continue;
    }
    if (!time) {
      out() << "Pobranie aktualnego czasu.";
      if (!clock.nowAsTime(now)) return nullptr;
      time = &now;
    }
    if (*time < s->thisUpdate) {
      out() << "Odpowiedź OCSP jest późniejsza niż data aktualna.";
      continue;
    }
    if (s->nextUpdatePresent && s->nextUpdate.inner < *time) {
      out() << "Odpowiedź OCSP jest przeterminowana.";
      continue;
    }
    return s;
  }
  return nullptr;
}

const CRLentry* RevocationManager::findEntry(const SignedCertRevList& crl,
                                             const ASNinteger& serial) {
  std::vector<unsigned char> key = signatureKey(crl);
  auto it = indexes.find(key);
  if (it == indexes.end() || !sameCrl(*it->second.crl, crl)) {
    IndexedCrl x;
    x.crl.reset(new SignedCertRevList(crl));
    x.index.reset(new CrlSerialIndex(*x.crl));
    it = indexes.insert_or_assign(std::move(key), std::move(x)).first;
  }
  return it->second.index->find(serial);
}

const SignedCertRevList* RevocationManager::chooseFromList(const CrlList& list,
                                                           const SignedCertificate& cert) {
  const SignedCertRevList* choice = nullptr;
  for (const auto& c : list) {
    // A CRL of the lists is held to its scope like any other.
    if (!checkIssuingDistributionPoint(cert, c->tbsCertList.issuer, crlExtensionsOf(*c))) continue;
    if (!choice || (choice->tbsCertList.thisUpdate < c->tbsCertList.thisUpdate &&
                    insideValidity(cert.tbsCertificate, c->tbsCertList.thisUpdate)))
      choice = c.get();
  }
  return choice;
}

int RevocationManager::checkStatus(CertificateItem& item, const RevocationArgs& args,
                                   const BasicOCSPResponse* ocsp, const SignedCertificate& issuer,
                                   const SignedCertRevList* givenCrl, UsedRevocationData& used) {
  const SignedCertificate& cert = item.certificate;
  const TBSCertificate& tbs = cert.tbsCertificate;
  X509time now;
  if (!args.time && !clock.nowAsTime(now)) return 0;
  const X509time& r = args.time ? *args.time : now;
  const X509time* timemark = args.timemark;
  out() << "Sprawdzanie statusu certyfikatu:\r\nWystawiony przez: " << tbs.issuer
        << "\r\nWystawiony dla: " << tbs.subject << "\r\n";

  item.revocationState = REVSTATE_NONE;
  item.revocationSource = REVSOURCE_NONE;
  const int validity = tbs.checkValidity(timemark ? *timemark : r);
  if (validity != 0) {
    item.wwc = validity < 0 ? WWC_NOT_YET_VALID : WWC_EXPIRED;
    return 0;
  }
  item.wwc = WWC_OK;

  const SignedCertRevList* crl = givenCrl;
  std::unique_ptr<SignedCertRevList> fromDatabase;
  if (!crl) {
    const SignedCertRevList* verified = chooseFromList(verifiedCrls, cert);
    const SignedCertRevList* pending = chooseFromList(pendingCrls, cert);
    crl = verified;
    bool toVerify = false;
    if (pending && (!verified || (verified->tbsCertList.thisUpdate < pending->tbsCertList.thisUpdate &&
                                  insideValidity(tbs, pending->tbsCertList.thisUpdate)))) {
      crl = pending;
      toVerify = true;
    }
    if (database && !args.offline) {
      // A database failure is not a verdict: the check goes on without it.
      if (database->findLatestCrl(cert, fromDatabase, crl ? &crl->tbsCertList.thisUpdate : nullptr) !=
          CRLDB_OK)
        fromDatabase.reset();
      if (fromDatabase && r < fromDatabase->tbsCertList.thisUpdate) {
        out() << "Lista CRL odczytana z bazy danych nie może być użyta ponieważ czas jej utworzenia "
                 "jest późniejszy niż czas aktualny, należy sprawdzić aktualny czas i datę ustawione "
                 "w komputerze.\r\n";
        fromDatabase.reset();
      }
      if (fromDatabase && (!crl || (crl->tbsCertList.thisUpdate < fromDatabase->tbsCertList.thisUpdate &&
                                    insideValidity(tbs, fromDatabase->tbsCertList.thisUpdate)))) {
        bool held = false;
        for (const auto& p : pendingCrls) held = held || sameCrl(*p, *fromDatabase);
        if (!held) pendingCrls.emplace_back(new SignedCertRevList(*fromDatabase));
        crl = pendingCrls.back().get();
        for (const auto& p : pendingCrls)
          if (sameCrl(*p, *fromDatabase)) crl = p.get();
        toVerify = true;
      }
    }
    if (crl && toVerify) used.crlToVerify.reset(new SignedCertRevList(*crl));
  }

  const SingleResponse* single = nullptr;
  if (ocsp) {
    single = findSingleResponse(*ocsp, cert, issuer, &r);
    if (!single) {
      out() << "Odpowiedź OCSP przeterminowana bądź nie odpowiadająca certyfikatowi.\r\n";
    } else if (single->certStatus.status() != CertStatus::STATUS_GOOD &&
               single->certStatus.status() != CertStatus::STATUS_REVOKED) {
      out() << "Odpowiedź OCSP zawiera nieznany status certyfikatu.\r\n";
      single = nullptr;
    }
  }
  if (!crl && !single) {
    item.revocationState = REVSTATE_NO_DATA;
    item.freshCrlWanted = 1;
    return 0;
  }
  const bool useCrl = crl && (!single || single->thisUpdate < crl->tbsCertList.thisUpdate);
  const X509time& thisUpdate = useCrl ? crl->tbsCertList.thisUpdate : single->thisUpdate;
  const bool hasNext = useCrl ? crl->tbsCertList.nextUpdatePresent != 0 : single->nextUpdatePresent != 0;
  const X509time& nextUpdate = useCrl ? crl->tbsCertList.nextUpdate : single->nextUpdate.inner;
  out() << (useCrl ? "Użyta lista CRL:\r\n--------\r\n" : "Użyta odpowiedź OCSP:\r\n--------\r\n");

  // Grading.
  item.revocationState = REVSTATE_FOUND;
  item.freshCrlWanted = 0;
  const bool strict = !cert.isCa() || strictForCa;
  if (timemark) {
    if (thisUpdate < *timemark) {
      if (strict) {
        item.freshCrlWanted = 1;
        item.revocationState =
            hasNext && nextUpdate < *timemark ? REVSTATE_STALE_AND_OLDER : REVSTATE_OLDER;
      } else if (hasNext && nextUpdate < *timemark) {
        item.revocationState = REVSTATE_STALE;
        item.freshCrlWanted = 1;
      } else if (!hasNext) {
        item.revocationState = REVSTATE_STALE;
      }
    }
  } else if (hasNext && nextUpdate < r) {
    item.revocationState = REVSTATE_STALE;
    item.freshCrlWanted = 1;
  } else if (args.strict && strict) {
    item.revocationState = REVSTATE_OLDER;
  }

  item.revocationSource = useCrl ? REVSOURCE_CRL : REVSOURCE_OCSP;
  if (useCrl)
    used.crl = crl;
  else
    used.ocsp = ocsp;

  // The listed entry.
  const X509time* revocationDate = nullptr;
  const Extensions* exts = nullptr;
  long reason = -1;
  if (useCrl) {
    const CRLentry* e = findEntry(*crl, tbs.serialNumber);
    if (!e) return 0;
    revocationDate = &e->revocationDate;
    exts = &e->crlEntryExtensions;
    reason = reasonOf(*exts);
  } else {
    if (single->certStatus.status() == CertStatus::STATUS_GOOD) return 0;
    const RevokedInfo& info = single->certStatus.revoked;
    revocationDate = &info.revocationTime;
    if (info.revocationReasonPresent) reason = static_cast<long>(info.revocationReason.inner.toLong());
    exts = &single->singleExtensions.inner;
  }
  const bool accepted = checkEntryExtensions(*exts);
  if (timemark && *timemark < *revocationDate) {
    out() << "Certyfikat znajduje się na CRL/OCSP, ale data unieważnienia jest późniejsza od daty "
             "złożenia podpisu.\r\n";
    return 0;
  }
  if (reason == 6) {
    if (holdInstructionOtherThanNone(*exts)) {
      item.wwc = WWC_REVOKED;
    } else if (accepted) {
      item.wwc = WWC_SUSPENDED;
    } else {
      out() << "Zawieszenie certyfikatu zawiera nieobsługiwane rozszerzenie krytyczne, więc "
               "traktowane jest jako unieważnienie.\r\n";
      item.wwc = WWC_REVOKED;
    }
  } else {
    item.wwc = WWC_REVOKED;
  }
  return 0;
}

void RevocationManager::recordVerifiedCrl(const SignedCertRevList& crl) {
  ASNinteger number, other;
  const Extension* n = findExtensionByOid(crlExtensionsOf(crl), id_ce_cRLNumber);
  const bool hasNumber = n && number.decodeOctets(n->extnValue) > 0;
  auto sameNumber = [&](const std::unique_ptr<SignedCertRevList>& c) {
    if (!(c->tbsCertList.issuer == crl.tbsCertList.issuer)) return false;
    const Extension* m = findExtensionByOid(crlExtensionsOf(*c), id_ce_cRLNumber);
    const bool has = m && other.decodeOctets(m->extnValue) > 0;
    return has == hasNumber && (!has || other.equals(number));
  };
  verifiedCrls.erase(std::remove_if(verifiedCrls.begin(), verifiedCrls.end(), sameNumber),
                     verifiedCrls.end());
  pendingCrls.erase(std::remove_if(pendingCrls.begin(), pendingCrls.end(),
                                   [&](const std::unique_ptr<SignedCertRevList>& c) {
                                     return sameCrl(*c, crl);
                                   }),
                    pendingCrls.end());
  verifiedCrls.emplace_back(new SignedCertRevList(crl));
}

void RevocationManager::demoteVerifiedCrls() {
  for (auto& v : verifiedCrls) {
    pendingCrls.erase(std::remove_if(pendingCrls.begin(), pendingCrls.end(),
                                     [&](const std::unique_ptr<SignedCertRevList>& c) {
                                       return sameCrl(*c, *v);
                                     }),
                      pendingCrls.end());
    pendingCrls.push_back(std::move(v));
  }
  verifiedCrls.clear();
}

void RevocationManager::copyRevocationData(const RevocationManager& other) {
  for (const auto& c : other.verifiedCrls) verifiedCrls.emplace_back(new SignedCertRevList(*c));
  for (const auto& c : other.pendingCrls) pendingCrls.emplace_back(new SignedCertRevList(*c));
}
