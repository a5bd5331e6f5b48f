#include "store/revmgr.h"

#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "pki/x509/x509ext.h"
#include "base/commonerror.h"
#include "store/lcrtstore.h"
#include "store/sigcodes.h"

#include <algorithm>
#include <memory>

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
  // One hash object of the algorithm, not the whole selection: this runs for
  // every response and certificate identifier checked.
  std::unique_ptr<LvHash> h(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  if (!h) throwBadAllocation();
  h->init();
  if (n) h->step(data, static_cast<unsigned int>(n));
  h->finish();
  outHash.resize(static_cast<size_t>(length));
  h->getHash(static_cast<unsigned int>(length), outHash.data());
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

// The signature's references admit the data: none were given, or one of
// their kind matches it.
template <class Data, class Record, class Match>
bool referenced(const RevocationReferences* refs, int32_t kind, Record SignatureCrlOrOcspRef::*record,
                const Match& match, const Data& data) {
  if (!refs || !refs->list) return true;
  for (const SignatureCrlOrOcspRef* ref : refs->list->items)
    if (ref && ref->kind == kind && match && match(ref->*record, data)) return true;
  return false;
}

bool referencedResponse(const RevocationReferences* refs, const BasicOCSPResponse& response) {
  return referenced(refs, SignatureCrlOrOcspRef::OCSP, &SignatureCrlOrOcspRef::ocsp,
                    refs ? refs->matchOcsp : nullptr, response);
}

bool referencedCrl(const RevocationReferences* refs, const SignedCertRevList& crl) {
  return referenced(refs, SignatureCrlOrOcspRef::CRL, &SignatureCrlOrOcspRef::crl,
                    refs ? refs->matchCrl : nullptr, crl);
}

// Sets a collector slot for as long as it lives.
class Collecting {
 public:
  Collecting(PathCollector*& slot, PathCollector* collector) : slot(slot), saved(slot) {
    slot = collector;
  }
  ~Collecting() { slot = saved; }
  Collecting(const Collecting&) = delete;
  Collecting& operator=(const Collecting&) = delete;

 private:
  PathCollector*& slot;
  PathCollector* saved;
};

}  // namespace

bool equalCrls(const SignedCertRevList& a, const SignedCertRevList& b) { return sameCrl(a, b); }

// ---- the CRL lists ----

namespace {

bool known(const CrlDigest& d) {
  return std::any_of(d.begin(), d.end(), [](unsigned char c) { return c != 0; });
}

}  // namespace

CrlDigest crlDigest(const SignedCertRevList& crl) {
  CrlDigest d{};
  const int octets = crl.contentLength();
  workCharge(WORK_DIGEST_OCTET * static_cast<uint64_t>(octets > 0 ? octets : 0));
  if (crl.digest(LV_HASH_SHA256, d.data(), static_cast<int>(d.size())) != 1) d.fill(0);
  return d;
}

std::string HeldCrls::issuerKeyOf(const DistinguishedName& name) {
  std::string key = issuerSerialKey(name, ASNinteger());
  workCharge(WORK_DER_OCTET * key.size());
  return key;
}

void HeldCrls::push_back(value_type crl, bool proven, uint64_t learned, const CrlDigest* digestMade,
                         const std::string* issuerMade) {
  Entry e;
  e.digest = digestMade ? *digestMade : crlDigest(*crl);
  e.issuer = issuerMade ? *issuerMade : issuerKeyOf(crl->tbsCertList.issuer);
  e.proven = proven;
  e.learned = learned;
  e.order = next + 1;
  const int octets = crl->contentLength();
  e.octets = static_cast<uint64_t>(octets > 0 ? octets : 0);
  e.crl = std::move(crl);
  if (recording) journal.reserve(journal.size() + 1);
  // Into the three maps, or into none.
  const uint64_t order = e.order, size = e.octets;
  const CrlDigest digest = e.digest;
  std::string issuer = e.issuer;
  auto at = entries.emplace(order, std::move(e)).first;
  ByDigest::iterator d = byDigest.end();
  try {
    d = byDigest.emplace(digest, order);
    byIssuer[issuer].insert(order);
  } catch (...) {
    if (d != byDigest.end()) byDigest.erase(d);
    auto i = byIssuer.find(issuer);
    if (i != byIssuer.end() && i->second.empty()) byIssuer.erase(i);
    entries.erase(at);
    throw;
  }
  next = order;
  heldOctets += size;
  if (recording) {
    Change c;
    c.order = order;
    c.added = true;
    journal.push_back(std::move(c));
  }
}

const HeldCrls::Entry* HeldCrls::find(const CrlDigest& digest) const {
  if (!known(digest)) return nullptr;
  auto d = byDigest.find(digest);
  return d == byDigest.end() ? nullptr : &entries.find(d->second)->second;
}

const HeldCrls::Entry* HeldCrls::find(const SignedCertRevList& crl, const CrlDigest& digest) const {
  if (const Entry* e = find(digest)) return e;
  // One that does not encode equals only itself.
  const Entry* same = nullptr;
  if (!known(digest))
    forIssuer(crl.tbsCertList.issuer, [&](const Entry& e) {
      if (e.crl.get() == &crl) same = &e;
      return !same;
    });
  return same;
}

void HeldCrls::remove(Entries::iterator at, SharedCrlList* out) {
  const Entry& e = at->second;
  if (out) out->push_back(e.crl);  // first: nothing has changed when it throws
  if (recording) journal.reserve(journal.size() + 1);
  auto range = byDigest.equal_range(e.digest);
  auto d = range.first;
  while (d != range.second && d->second != e.order) ++d;
  auto i = byIssuer.find(e.issuer);
  heldOctets -= e.octets;
  const uint64_t order = e.order;
  if (recording) {
    Change c;
    c.order = order;
    c.digest = byDigest.extract(d);
    c.issuerOrder = i->second.extract(order);
    if (i->second.empty()) c.issuerKey = byIssuer.extract(i);
    c.entry = entries.extract(at);
    journal.push_back(std::move(c));
  } else {
    byDigest.erase(d);
    i->second.erase(order);
    if (i->second.empty()) byIssuer.erase(i);
    entries.erase(at);
  }
}

void HeldCrls::drop(uint64_t order) {
  auto at = entries.find(order);
  if (at != entries.end()) remove(at, nullptr);
}

void HeldCrls::record() {
  journal.clear();
  recording = true;
}

void HeldCrls::commit() {
  journal.clear();
  recording = false;
}

void HeldCrls::rollback() noexcept {
  recording = false;
  // In reverse: each change then meets the state it was made in. Nodes are
  // moved, never made.
  for (auto c = journal.rbegin(); c != journal.rend(); ++c) {
    if (c->added) {
      auto at = entries.find(c->order);
      if (at == entries.end()) continue;
      const Entry& e = at->second;
      auto range = byDigest.equal_range(e.digest);
      for (auto d = range.first; d != range.second; ++d)
        if (d->second == c->order) {
          byDigest.erase(d);
          break;
        }
      auto i = byIssuer.find(e.issuer);
      i->second.erase(c->order);
      if (i->second.empty()) byIssuer.erase(i);
      heldOctets -= e.octets;
      c->entry = entries.extract(at);
    } else {
      const Entry& e = c->entry.mapped();
      heldOctets += e.octets;
      if (c->issuerKey) {
        c->issuerKey.mapped().insert(std::move(c->issuerOrder));
        byIssuer.insert(std::move(c->issuerKey));
      } else {
        byIssuer.find(e.issuer)->second.insert(std::move(c->issuerOrder));
      }
      byDigest.insert(std::move(c->digest));
      entries.insert(std::move(c->entry));
    }
  }
}

bool operator==(const HeldCrls& a, const SharedCrlList& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool sameSignatureValue(const SignedCertRevList& a, const SignedCertRevList& b) {
  return &a == &b || (a.signature == b.signature && a.tbsCertList.issuer == b.tbsCertList.issuer);
}

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

void RevocationManager::writeTime(const X509time& t) { out().writeDateTime(t); }

// "Początek ... koniec ...: <next> UTC" or "nieznany." without nextUpdate.
void RevocationManager::writeWindow(const char* head, const char* endLabel, const SingleResponse& s) {
  out() << head;
  writeTime(s.thisUpdate);
  out() << endLabel;
  if (s.nextUpdatePresent) {
    writeTime(s.nextUpdate.inner);
    out() << " UTC";
  } else {
    out() << "nieznany.";
  }
}

const SingleResponse* RevocationManager::findSingleResponse(const BasicOCSPResponse& response,
                                                            const SignedCertificate& cert,
                                                            const SignedCertificate& issuer,
                                                            const X509time* time) {
  const TBSCertificate& tbs = cert.tbsCertificate;
  std::vector<unsigned char> nameDer;
  if (tbs.issuer.encodeVector(nameDer) < 1) return nullptr;
  X509time now;
  // The issuer's name and key hashed once per algorithm the single responses
  // name, not once per single response of the serial: a stranger's response
  // may hold thousands of them, each making the name's digest again.
  struct Hashes {
    int hashId;
    std::vector<unsigned char> name, key;
    int keyState;  // 0 not yet made, 1 made, -1 cannot be made
  };
  std::vector<Hashes> hashes;
  const auto& list = response.tbsResponseData.responses;
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const SingleResponse* s = list.GetNext(pos);
    const CertID& id = s->certID;
    int length = 0, hashId = 0;
    if (!id.serialNumber.equals(tbs.serialNumber) ||
        !digestOidToType(id.hashAlgorithm.algorithm, &length, &hashId))
      continue;
    auto known = std::find_if(hashes.begin(), hashes.end(),
                              [&](const Hashes& x) { return x.hashId == hashId; });
    if (known == hashes.end()) {
      hashes.push_back(Hashes{hashId, {}, {}, 0});
      known = hashes.end() - 1;
      digest(hashId, length, nameDer.data(), nameDer.size(), known->name);
    }
    if (!sameOctets(id.issuerNameHash, known->name)) continue;
    if (known->keyState == 0)
      known->keyState = issuerKeyHash(cert, &issuer, hashId, length, known->key) ? 1 : -1;
    if (known->keyState < 0) {
      out() << "Nie można ustalić skrótu z klucza wystawcy certyfikatu, co jest niezbędne do "
               "zweryfikowania odpowiedzi OCSP.\r\n";
      continue;
    }
    if (!sameOctets(id.issuerKeyHash, known->key)) continue;
    if (!insideValidity(tbs, s->thisUpdate)) {
      writeWindow("Odpowiedź OCSP jest poza okresem ważności certyfikatu. Początek okresu ważności "
                  "OCSP: ",
                  " UTC, koniec okresu ważności OCSP: ", *s);
      if (s->nextUpdatePresent) out() << ".";
      out() << "\r\n";
      continue;
    }
    if (!time) {
      out() << "Pobranie aktualnego czasu.\r\n";
      if (!clock.nowAsTime(now)) return nullptr;
      time = &now;
    }
    if (*time < s->thisUpdate) {
      writeWindow("Odpowiedź OCSP jest późniejsza niż data aktualna. Początek okresu ważności: ",
                  " UTC, koniec okresu ważności: ", *s);
      out() << ", data aktualna: ";
      writeTime(*time);
      out() << "\r\n";
      continue;
    }
    if (s->nextUpdatePresent && s->nextUpdate.inner < *time) {
      writeWindow("Odpowiedź OCSP jest przeterminowana. Początek okresu ważności: ",
                  " UTC, koniec okresu ważności: ", *s);
      out() << ", data aktualna: ";
      writeTime(*time);
      out() << " UTC\r\n";
      continue;
    }
    return s;
  }
  return nullptr;
}

const CRLentry* RevocationManager::findEntry(const SignedCertRevList& crl,
                                             const std::shared_ptr<SignedCertRevList>* owner,
                                             const ASNinteger& serial) {
  std::vector<unsigned char> key = signatureKey(crl);
  auto it = indexes.find(key);
  // The CRL the index was built for, or an equal one (the index keeps its CRL
  // alive, so the same address is the same CRL).
  if (it == indexes.end() || !equalCrls(*it->second.crl, crl)) {
    IndexedCrl x;
    if (owner && owner->get() == &crl)
      x.crl = *owner;
    else
      x.crl = std::make_shared<const SignedCertRevList>(crl);
    x.index.reset(new CrlSerialIndex(*x.crl));
    // Journaled while a document is verified: the index it replaces is kept
    // to be put back.
    IndexChange change;
    if (journaling) {
      indexJournal.reserve(indexJournal.size() + 1);
      change.key = key;
    }
    Indexes::node_type previous;
    if (it != indexes.end()) previous = indexes.extract(it);
    try {
      it = indexes.emplace(std::move(key), std::move(x)).first;
    } catch (...) {
      if (previous) indexes.insert(std::move(previous));
      throw;
    }
    if (journaling) {
      change.previous = std::move(previous);
      indexJournal.push_back(std::move(change));
    }
  }
  return it->second.index->find(serial);
}

const std::shared_ptr<SignedCertRevList>* RevocationManager::chooseFromList(
    const HeldCrls& list, const SignedCertificate& cert, const RevocationReferences* refs,
    const X509time& now) {
  const std::shared_ptr<SignedCertRevList>* choice = nullptr;
  // Only the CRLs of the certificate's issuer are candidates: they are found
  // by the issuer's name, not among all a context holds.
  list.forIssuer(cert.tbsCertificate.issuer, [&](const HeldCrls::Entry& e) {
    const auto& c = e.crl;
    // A CRL of the lists is held to its scope like any other, and, like one
    // of the database, is no evidence at a time before it was issued.
    if (now < c->tbsCertList.thisUpdate ||
        !checkIssuingDistributionPoint(cert, c->tbsCertList.issuer, crlExtensionsOf(*c)) ||
        !referencedCrl(refs, *c))
      return true;
    if (!choice || ((*choice)->tbsCertList.thisUpdate < c->tbsCertList.thisUpdate &&
                    insideValidity(cert.tbsCertificate, c->tbsCertList.thisUpdate)))
      choice = &c;
    return true;
  });
  return choice;
}

void RevocationManager::reportCrl(const SignedCertRevList& crl) {
  const TBSCertRevList& t = crl.tbsCertList;
  out() << "Użyta lista CRL:\r\n--------\r\nWystawca: \"" << t.issuer
        << "\".\r\nOstatnia aktualizacja: ";
  writeTime(t.thisUpdate);
  out() << " (UTC).\r\n";
  if (t.nextUpdatePresent) {
    out() << "Następna aktualizacja: ";
    writeTime(t.nextUpdate);
    out() << " (UTC).\r\n";
  }
  const char* name = oidName(crl.signatureAlgorithm.algorithm);
  out() << "Algorytm podpisu w CRL: " << (name ? name : "") << "\r\n--------\r\n\r\n";
}

void RevocationManager::reportResponse(const BasicOCSPResponse& response,
                                       const SingleResponse& single) {
  const ResponseData& data = response.tbsResponseData;
  out() << "Użyta odpowiedź OCSP:\r\n--------\r\n";
  if (data.responderID.chosenIndex() == 0)
    out() << "Wystawca: \"" << data.responderID.byName.inner << "\".\r\n";
  out() << "Utworzona: ";
  writeTime(data.producedAt);
  out() << "\r\nWażna od: ";
  writeTime(single.thisUpdate);
  out() << "\r\n";
  if (single.nextUpdatePresent) {
    out() << "Ważna do: ";
    writeTime(single.nextUpdate.inner);
    out() << "\r\n";
  }
  if (const char* name = oidName(response.signatureAlgorithm.algorithm))
    out() << "Algorytm podpisu w odpowiedzi OCSP: " << name << "\r\n";
  out() << "--------\r\n\r\n";
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
        << "\r\nWystawiony dla: " << tbs.subject << "\r\nCzas aktualny: ";
  writeTime(r);
  out() << " UTC\r\n";
  if (timemark) {
    out() << "Timemark: ";
    writeTime(*timemark);
    out() << " UTC\r\n\r\n";
  } else {
    out() << "Timemark: brak\r\n\r\n";
  }

  item.revocationState = REVSTATE_NONE;
  item.revocationSource = REVSOURCE_NONE;
  const int validity = tbs.checkValidity(timemark ? *timemark : r);
  if (validity != 0) {
    item.wwc = validity < 0 ? WWC_NOT_YET_VALID : WWC_EXPIRED;
    return 0;
  }
  item.wwc = WWC_OK;

  // A CRL handed in is held to its scope like the others: a genuine CRL of
  // another distribution point or kind of certificate lists none of those it
  // leaves out, so it would clear them all. It then decides nothing, and no
  // other CRL is chosen in its place.
  const SignedCertRevList* crl =
      givenCrl && checkIssuingDistributionPoint(cert, givenCrl->tbsCertList.issuer,
                                                crlExtensionsOf(*givenCrl))
          ? givenCrl
          : nullptr;
  // The list entry holding `crl` when it comes from the lists (shared, never copied).
  std::shared_ptr<SignedCertRevList> held;
  std::unique_ptr<SignedCertRevList> fromDatabase;
  if (!givenCrl) {
    const std::shared_ptr<SignedCertRevList>* verified =
        chooseFromList(verifiedCrls, cert, args.references, r);
    const std::shared_ptr<SignedCertRevList>* pending =
        chooseFromList(pendingCrls, cert, args.references, r);
    if (verified) held = *verified;
    bool toVerify = false;
    if (pending &&
        (!verified || ((*verified)->tbsCertList.thisUpdate < (*pending)->tbsCertList.thisUpdate &&
                       insideValidity(tbs, (*pending)->tbsCertList.thisUpdate)))) {
      held = *pending;
      toVerify = true;
    }
    crl = held.get();
    if (database && !args.offline) {
      // A database failure is not a verdict: the check goes on without it.
      if (database->findLatestCrl(cert, fromDatabase, crl ? &crl->tbsCertList.thisUpdate : nullptr) !=
          CRLDB_OK)
        fromDatabase.reset();
      for (const auto& refused : refusedCrls)
        if (fromDatabase && equalCrls(*refused, *fromDatabase)) fromDatabase.reset();
      if (fromDatabase && r < fromDatabase->tbsCertList.thisUpdate) {
        out() << "Lista CRL odczytana z bazy danych nie może być użyta ponieważ czas jej utworzenia "
                 "jest późniejszy niż czas aktualny, należy sprawdzić aktualny czas i datę ustawione "
                 "w komputerze.\r\nOstatnia aktualizacja: ";
        writeTime(fromDatabase->tbsCertList.thisUpdate);
        out() << " (UTC).\r\nCzas aktualny: ";
        writeTime(r);
        out() << " (UTC).\r\n";
        fromDatabase.reset();
      }
      if (fromDatabase && (!crl || (crl->tbsCertList.thisUpdate < fromDatabase->tbsCertList.thisUpdate &&
                                    insideValidity(tbs, fromDatabase->tbsCertList.thisUpdate)))) {
        // The database's CRL is this document's, like those it carries.
        const CrlDigest digest = crlDigest(*fromDatabase);
        markBrought(digest);
        const HeldCrls::Entry* same = pendingCrls.find(*fromDatabase, digest);
        held = same ? same->crl : nullptr;
        if (!held) {
          held = std::shared_ptr<SignedCertRevList>(std::move(fromDatabase));
          pendingCrls.push_back(held, false, document);
        }
        crl = held.get();
        toVerify = true;
      }
    }
    if (crl && toVerify) used.crlToVerify = held;
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
  if (useCrl)
    reportCrl(*crl);
  else
    reportResponse(*ocsp, *single);

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
  item.time1 = thisUpdate;  // the data's thisUpdate, read with the source
  if (useCrl) {
    used.crl = crl;
    if (held.get() == crl) used.crlOwner = held;
  } else {
    used.ocsp = ocsp;
  }

  // The listed entry.
  const X509time* revocationDate = nullptr;
  const Extensions* exts = nullptr;
  long reason = -1;
  if (useCrl) {
    const CRLentry* e = findEntry(*crl, held.get() == crl ? &held : nullptr, tbs.serialNumber);
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
             "złożenia podpisu.\r\nData unieważnienia: ";
    writeTime(*revocationDate);
    out() << " (UTC).\r\nData złożenia podpisu: ";
    writeTime(*timemark);
    out() << " (UTC).\r\n\r\n";
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

template <class Drop>
void RevocationManager::retire(HeldCrls& list, const DistinguishedName* issuer, Drop drop) {
  list.removeIf(issuer, [&](const HeldCrls::Entry& e) { return drop(e.crl); }, &retiredCrls);
}

void RevocationManager::recordVerifiedCrl(const SignedCertRevList& crl) {
  ASNinteger number, other;
  const Extension* n = findExtensionByOid(crlExtensionsOf(crl), id_ce_cRLNumber);
  const bool hasNumber = n && number.decodeOctets(n->extnValue) > 0;
  // CRL numbers count within one scope and distribution point.
  auto sameNumber = [&](const std::shared_ptr<SignedCertRevList>& c) {
    if (!(c->tbsCertList.issuer == crl.tbsCertList.issuer) ||
        !sameCoverage(crlExtensionsOf(*c), crlExtensionsOf(crl)))
      return false;
    const Extension* m = findExtensionByOid(crlExtensionsOf(*c), id_ce_cRLNumber);
    const bool has = m && other.decodeOctets(m->extnValue) > 0;
    return has == hasNumber && (!has || other.equals(number));
  };
  // A list entry equal to this CRL moves over (or stays), shared; anything else is copied.
  const CrlDigest digest = crlDigest(crl);
  std::shared_ptr<SignedCertRevList> entry;
  uint64_t learned = document;
  std::string issuer;
  for (const HeldCrls* list : {&verifiedCrls, &pendingCrls})
    if (const HeldCrls::Entry* e = entry ? nullptr : list->find(crl, digest)) {
      entry = e->crl;
      learned = e->learned;
      issuer = e->issuer;
    }
  if (!entry) {
    entry = std::make_shared<SignedCertRevList>(crl);
    issuer = HeldCrls::issuerKeyOf(crl.tbsCertList.issuer);
  }
  retire(verifiedCrls, &crl.tbsCertList.issuer, sameNumber);
  retire(pendingCrls, &entry->tbsCertList.issuer, [&](const std::shared_ptr<SignedCertRevList>& c) {
    return sameSignatureValue(*c, *entry);
  });
  verifiedCrls.push_back(std::move(entry), true, learned, &digest, &issuer);
}

bool RevocationManager::refuseCrl(const SignedCertRevList& crl) {
  const CrlDigest digest = crlDigest(crl);
  const size_t before = refusedCrls.size();
  pendingCrls.removeIf(&crl.tbsCertList.issuer,
                       [&](const HeldCrls::Entry& e) {
                         return e.crl.get() == &crl || (e.digest == digest && equalCrls(*e.crl, crl));
                       },
                       &refusedCrls);
  return refusedCrls.size() != before;
}

bool RevocationManager::isNewCrl(const SignedCertRevList& crl) {
  const CrlDigest digest = crlDigest(crl);
  return !verifiedCrls.find(crl, digest) && !pendingCrls.find(crl, digest);
}

void RevocationManager::markBrought(const CrlDigest& digest) {
  if (journaling) brought.insert(digest);
}

void RevocationManager::offerCarriedCrl(const SignedCertRevList& crl,
                                        std::shared_ptr<SignedCertRevList> shared) {
  const CrlDigest digest = crlDigest(crl);
  markBrought(digest);
  if (verifiedCrls.find(crl, digest) || pendingCrls.find(crl, digest)) return;
  if (!shared) shared = std::make_shared<SignedCertRevList>(crl);
  pendingCrls.push_back(std::move(shared), false, document);
}

bool RevocationManager::learnedEarlier(const SignedCertRevList& crl) {
  if (!journaling) return false;
  const CrlDigest digest = crlDigest(crl);
  if (brought.count(digest)) return false;
  // One this context once verified is genuine: failing now (its issuer's
  // path gone, say) it still may not let an older CRL clear what it lists.
  const HeldCrls::Entry* e = pendingCrls.find(crl, digest);
  return e && !e->proven;
}

void RevocationManager::clearOcspCache() {
  if (journaling && !ocspCleared) {
    // The cache as it was when the document began, kept whole (moved, not copied).
    ocspAtSave = std::move(ocspCache);
    ocspAtSave.resize(std::min(ocspAtSave.size(), ocspSizeAtSave));
    ocspCleared = true;
  }
  ocspCache.clear();
}

RevocationManager::Saved RevocationManager::save() {
  verifiedCrls.record();
  pendingCrls.record();
  ++document;
  brought.clear();
  ocspCleared = false;
  ocspSizeAtSave = ocspCache.size();
  ocspAtSave.clear();
  indexJournal.clear();
  journaling = true;
  return Saved{true};
}

void RevocationManager::restore(Saved& saved) noexcept {
  if (!saved.open) return;
  saved.open = false;
  journaling = false;
  // The CRLs the lists gained stay alive in their journals until the next
  // document (the refused records may still point at them).
  verifiedCrls.rollback();
  pendingCrls.rollback();
  if (ocspCleared)
    ocspCache.swap(ocspAtSave);
  else
    while (ocspCache.size() > ocspSizeAtSave) ocspCache.pop_back();
  // In reverse, each index put back as it was.
  for (auto c = indexJournal.rbegin(); c != indexJournal.rend(); ++c) {
    indexes.erase(c->key);
    if (c->previous) indexes.insert(std::move(c->previous));
  }
  indexJournal.clear();
  brought.clear();
}

void RevocationManager::commit(Saved& saved) noexcept {
  if (!saved.open) return;
  saved.open = false;
  journaling = false;
  verifiedCrls.commit();
  pendingCrls.commit();
  ocspAtSave.clear();
  indexJournal.clear();
  brought.clear();
  // Trimming is no part of the verdict: without memory for it, the lists
  // wait for the next document's end.
  try {
    trimHeld();
  } catch (const std::bad_alloc&) {
  }
}

void RevocationManager::trimHeld() {
  struct Held {
    HeldCrls* list;
    const HeldCrls::Entry* entry;
  };
  std::vector<Held> all;
  for (HeldCrls* list : {&verifiedCrls, &pendingCrls})
    list->forEach([&](const HeldCrls::Entry& e) { all.push_back(Held{list, &e}); });
  // Those kept first: verified before never verified, then the ones learned
  // last, then the first of those a document brought.
  std::sort(all.begin(), all.end(), [](const Held& a, const Held& b) {
    if (a.entry->proven != b.entry->proven) return a.entry->proven;
    if (a.entry->learned != b.entry->learned) return a.entry->learned > b.entry->learned;
    return a.entry->order < b.entry->order;
  });
  std::map<uint64_t, size_t> perDocument;
  std::map<std::string, size_t> unprovenPerIssuer;
  size_t kept = 0;
  uint64_t octets = 0;
  std::vector<Held> doomed;
  for (const Held& h : all) {
    const HeldCrls::Entry& e = *h.entry;
    const bool keep = ++perDocument[e.learned] <= MAX_CRLS_KEPT_PER_DOCUMENT &&
                      (e.proven || ++unprovenPerIssuer[e.issuer] <= MAX_UNPROVEN_CRLS_PER_ISSUER) &&
                      kept < MAX_CRLS_HELD && octets + e.octets <= MAX_CRL_OCTETS_HELD;
    if (keep) {
      ++kept;
      octets += e.octets;
    } else {
      doomed.push_back(h);
    }
  }
  for (const Held& h : doomed) h.list->drop(h.entry->order);
  // A serial index whose CRL nothing else holds goes with it.
  for (auto it = indexes.begin(); it != indexes.end();)
    it = it->second.crl.use_count() == 1 ? indexes.erase(it) : std::next(it);
}

void RevocationManager::releaseLastVerification() {
  retiredCrls.clear();
  refusedCrls.clear();
  usedResponses.clear();
}

void RevocationManager::demoteVerifiedCrls() {
  // Called between verifications: nothing points at retired CRLs any more.
  releaseLastVerification();
  // Each moved with its digest and name key, not made again.
  std::vector<HeldCrls::Entry> moved;
  verifiedCrls.forEach([&](const HeldCrls::Entry& e) { moved.push_back(e); });
  verifiedCrls.clear();
  for (HeldCrls::Entry& v : moved) {
    retire(pendingCrls, &v.crl->tbsCertList.issuer,
           [&](const std::shared_ptr<SignedCertRevList>& c) { return sameSignatureValue(*c, *v.crl); });
    pendingCrls.push_back(std::move(v.crl), true, v.learned, &v.digest, &v.issuer);
  }
}

void RevocationManager::copyRevocationData(const RevocationManager& other) {
  other.verifiedCrls.forEach([&](const HeldCrls::Entry& e) {
    verifiedCrls.push_back(std::make_shared<SignedCertRevList>(*e.crl), e.proven, e.learned);
  });
  other.pendingCrls.forEach([&](const HeldCrls::Entry& e) {
    pendingCrls.push_back(std::make_shared<SignedCertRevList>(*e.crl), e.proven, e.learned);
  });
  document = other.document;
  for (const auto& r : other.ocspCache)
    if (auto copy = copyResponse(*r)) ocspCache.push_back(std::move(copy));
}

// ---- OCSP request and response checks ----

namespace {

bool hasOcspSigning(const SignedCertificate& cert) {
  return extensionsGrantPurpose(cert.tbsCertificate.extensions.inner, id_kp_OCSPSigning);
}

template <class T>
bool sameEncoding(const T& a, const T& b) {
  std::vector<unsigned char> x, y;
  return a.encodeVector(x) > 0 && b.encodeVector(y) > 0 && x == y;
}

}  // namespace

std::unique_ptr<BasicOCSPResponse> copyResponse(const BasicOCSPResponse& r) {
  std::vector<unsigned char> der;
  auto copy = std::make_unique<BasicOCSPResponse>();
  if (r.encodeVector(der) < 1 || copy->decodeVector(der) != static_cast<int>(der.size()))
    return nullptr;
  return copy;
}

namespace {

bool sameCertificate(const SignedCertificate& a, const SignedCertificate& b) {
  // Different signature bits are different encodings: most pairs end there,
  // without encoding both.
  return a.signature == b.signature && sameEncoding(a, b);
}

bool signedBy(const SignedCertificate& cert, const SignedCertificate& issuer) {
  return cert.tbsCertificate.issuer == issuer.tbsCertificate.subject &&
         certificateSignatureAnswer(cert.verifySignature(issuer), cert.signature) ==
             CERT_ANSWER_VERIFIES;
}

}  // namespace

bool RevocationManager::issuerKeyHash(const SignedCertificate& cert, const SignedCertificate* issuer,
                                      int hashId, int length, std::vector<unsigned char>& hash) {
  if (issuer) {
    const ASNbitstr& key = issuer->tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
    return digest(hashId, length, key.bits(), static_cast<size_t>(key.bitsLength()), hash);
  }
  // Without the issuer only SHA-1 can be had: the 20-byte key identifier.
  if (hashId != LV_HASH_SHA1) return false;
  const Extension* e =
      findExtensionByOid(cert.tbsCertificate.extensions.inner, id_ce_authorityKeyIdentifier);
  AuthorityKeyIdentifier akid;
  if (!e || akid.decodeOctets(e->extnValue) < 1 || !akid.keyIdentifierPresent ||
      akid.keyIdentifier.contentLength() != 20)
    return false;
  hash.assign(akid.keyIdentifier.data(), akid.keyIdentifier.data() + 20);
  return true;
}

bool RevocationManager::prepareOCSPRequest(const SignedCertificate& cert,
                                           const SignedCertificate* issuer,
                                           const ASNobjectId& digestAlgorithm,
                                           OCSPRequest& request) {
  int length = 0, hashId = 0;
  if (!digestOidToType(digestAlgorithm, &length, &hashId)) {
    out() << "RevocationManager::prepareOCSPRequest: Niewspierany algorytm skrótu\r\n";
    return false;
  }
  std::unique_ptr<Request> one(new Request());
  CertID& id = one->reqCert;
  std::vector<unsigned char> h;
  if (!issuerKeyHash(cert, issuer, hashId, length, h)) {
    out() << "Nie można ustalić skrótu z klucza wystawcy certyfikatu, co jest niezbędne do "
             "stworzenia żądania OCSP.\r\n";
    return false;
  }
  id.issuerKeyHash.set(h.data(), static_cast<int>(h.size()));
  std::vector<unsigned char> nameDer;
  if (cert.tbsCertificate.issuer.encodeVector(nameDer) < 1) return false;
  digest(hashId, length, nameDer.data(), nameDer.size(), h);
  id.issuerNameHash.set(h.data(), static_cast<int>(h.size()));
  ASNnull none;
  if (!id.hashAlgorithm.set(digestAlgorithm, &none)) return false;
  id.serialNumber = cert.tbsCertificate.serialNumber;
  request.tbsRequest.requestList.AddTail(one.release());
  return true;
}

bool RevocationManager::checkResponseFormat(const OCSPResponse& response, BasicOCSPResponse& basic) {
  switch (response.responseStatus.toLong()) {
    case OCSPResponse::OCSP_SUCCESSFUL:
      if (!response.responseBytesPresent) {
        out() << "Błędny format odpowiedzi OCSP: nie zawierała ona bajtów odpowiedzi.\r\n";
        return false;
      }
      if (!(response.responseBytes.inner.responseType == id_pkix_ocsp_basic)) {
        out() << "Odpowiedź OCSP jest innego typu niż obsługiwany typ podstawowy (basic).\r\n";
        return false;
      }
      if (basic.decodeOctets(response.responseBytes.inner.response) !=
          response.responseBytes.inner.response.contentLength()) {
        out() << "Błędny format odpowiedzi OCSP.\r\n";
        return false;
      }
      return true;
    case OCSPResponse::OCSP_MALFORMED_REQUEST:
      out() << "Odpowiedź OCSP zawiera kod błędu: Niepoprawne żądanie OCSP.\r\n";
      return false;
    case OCSPResponse::OCSP_INTERNAL_ERROR:
      out() << "Odpowiedź OCSP zawiera kod błędu: Błąd wewnętrzny serwera OCSP.\r\n";
      return false;
    case OCSPResponse::OCSP_TRY_LATER:
      out() << "Odpowiedź OCSP zawiera kod błędu: Proszę spróbować później.\r\n";
      return false;
    case OCSPResponse::OCSP_SIG_REQUIRED:
      out() << "Odpowiedź OCSP zawiera kod błędu: Wymagane podpisane żądanie OCSP.\r\n";
      return false;
    case OCSPResponse::OCSP_UNAUTHORIZED:
      out() << "Odpowiedź OCSP zawiera kod błędu: Brak autoryzacji do otrzymania odpowiedzi OCSP.\r\n";
      return false;
    default:
      out() << "Odpowiedź OCSP zawiera nieznany kod błędu.\r\n";
      return false;
  }
}

int RevocationManager::checkResponder(const SignedCertificate& candidate,
                                      const BasicOCSPResponse& response) {
  const ResponderID& rid = response.tbsResponseData.responderID;
  if (rid.chosenIndex() == 0) {
    if (!(rid.byName.inner == candidate.tbsCertificate.subject)) return OCSP_RESPONDER_OTHER;
  } else if (rid.chosenIndex() == 1) {
    const ASNoctstr& k = rid.byKey.inner;
    const ASNbitstr& key = candidate.tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
    std::vector<unsigned char> h;
    digest(LV_HASH_SHA1, 20, key.bits(), static_cast<size_t>(key.bitsLength()), h);
    if (k.contentLength() != 20 || !sameOctets(k, h)) return OCSP_RESPONDER_OTHER;
  } else {
    out() << "Odpowiedź OCSP ma niepoprawny format (responderID).\r\n";
    return OCSP_RESPONDER_MALFORMED;
  }
  return response.verifySignature(candidate) == 1 ? OCSP_RESPONDER_GOOD : OCSP_RESPONDER_OTHER;
}

// RFC 6960 4.2.2.2: a delegated responder is issued by the CA that issued the
// certificate in question and carries id-kp-OCSPSigning.
bool RevocationManager::delegatedResponder(const SignedCertificate& candidate,
                                           const SignedCertificate& cert,
                                           const SignedCertificate& issuer) {
  return !sameCertificate(candidate, cert) && hasOcspSigning(candidate) &&
         cert.tbsCertificate.issuer == candidate.tbsCertificate.issuer &&
         signedBy(candidate, issuer);
}

int RevocationManager::verifyResponder(const BasicOCSPResponse& response,
                                       const SignedCertificate& cert,
                                       const SignedCertificate& issuer, const X509time* time) {
  // Names compare as different once the document's account is over: the
  // response is then refused with the rest of its work, not an invariant broken.
  const bool issuerNamed = issuer.tbsCertificate.subject == cert.tbsCertificate.issuer;
  if (!issuerNamed && workOver()) return PATH_RESULT_NO_PATH;
  checkInvariant(issuerNamed, "SRC/revmgr", __LINE__,
                 "certIssuerCert == NULL || certIssuerCert->certificate.subject == "
                 "cert.certificate.issuer");
  if (!findSingleResponse(response, cert, issuer, time)) {
    out() << "Odpowiedź OCSP nie odpowiada weryfikowanemu certyfikatowi.\r\n";
    return OCSP_RESPONDER_MALFORMED;
  }
  // The response's own certificates are candidates in place: the response
  // outlives the search.
  std::vector<const SignedCertificate*> carried;
  if (response.certsPresent) {
    for (POSITION p = response.certs.inner.GetHeadPosition(); p;) {
      const SignedCertificate* c = response.certs.inner.GetNext(p);
      out() << "Certyfikat dostarczony w odpowiedzi OCSP:\r\nWystawiony przez: "
            << c->tbsCertificate.issuer << "\r\nWystawiony dla: " << c->tbsCertificate.subject
            << "\r\n";
      carried.push_back(c);
      if (environment) environment->rememberCertificate(*c);
    }
  }
  const SignedCertificate* responder = nullptr;
  bool trusted = false;
  std::vector<const SignedCertificate*> points;
  if (environment) {
    environment->trustPoints(true, points);
    environment->trustPoints(false, points);
  }
  auto tryOne = [&](const SignedCertificate& c) {
    const int r = checkResponder(c, response);
    if (r == OCSP_RESPONDER_GOOD) responder = &c;
    return r;
  };
  for (const SignedCertificate* p : points) {
    if (tryOne(*p) == OCSP_RESPONDER_MALFORMED) return OCSP_RESPONDER_MALFORMED;
    if (responder) {
      trusted = true;
      break;
    }
  }
  if (!responder && tryOne(issuer) == OCSP_RESPONDER_MALFORMED) return OCSP_RESPONDER_MALFORMED;
  // Delegated responders: from the local stores and the response's own
  // certificates, each held to RFC 6960 4.2.2.2.
  CertificateList local;
  if (!responder && environment) environment->certificatesByIssuer(cert.tbsCertificate.issuer, local);
  auto tryDelegated = [&](const SignedCertificate& c) {
    return !responder && !workOver() && delegatedResponder(c, cert, issuer) &&
           tryOne(c) == OCSP_RESPONDER_MALFORMED;
  };
  for (POSITION p = local.GetHeadPosition(); p;)
    if (tryDelegated(*local.GetNext(p))) return OCSP_RESPONDER_MALFORMED;
  for (const SignedCertificate* c : carried)
    if (tryDelegated(*c)) return OCSP_RESPONDER_MALFORMED;
  if (!responder) {
    out() << "Nie znaleziono certyfikatu wystawcy odpowiedzi OCSP, bądź znaleziony certyfikat nie "
             "należy do serwera OCSP autoryzowanego dla tego wystawcy certyfikatów.\r\n";
    return PATH_RESULT_NO_PATH;
  }
  if (sameCertificate(*responder, cert)) {
    out() << "Próba weryfikacji odpowiedzi OCSP wystawionej dla samego siebie przez podmiot (\""
          << cert.tbsCertificate.subject
          << "\")! Zakłada się że odpowiedź została negatywnie zweryfikowana.\r\n";
    return PATH_RESULT_NO_PATH;
  }
  if (!trusted) {
    RevocationArgs at;
    at.time = &response.tbsResponseData.producedAt;
    const int r = environment ? environment->verifyCertificatePathCollecting(*responder, PATH_PURPOSE_OCSP,
                                                                               at, collecting)
                              : PATH_RESULT_NO_PATH;
    if (r != 0) return r;
  }
  return 0;
}

bool RevocationManager::verifyOcspResponse(
    const BasicOCSPResponse& response, const SignedCertificate& cert,
    const SignedCertificate& issuer, const X509time* time,
    const std::vector<const BasicOCSPResponse*>* alreadyVerified) {
  if (!checkOcspResponse(response, cert, issuer, time, alreadyVerified)) return false;
  if (auto copy = copyResponse(response)) usedResponses.push_back(std::move(copy));
  return true;
}

bool RevocationManager::verifyOcspResponse(
    const std::shared_ptr<const BasicOCSPResponse>& response, const SignedCertificate& cert,
    const SignedCertificate& issuer, const X509time* time,
    const std::vector<const BasicOCSPResponse*>* alreadyVerified) {
  if (!response || !checkOcspResponse(*response, cert, issuer, time, alreadyVerified)) return false;
  usedResponses.push_back(response);
  return true;
}

bool RevocationManager::checkOcspResponse(
    const BasicOCSPResponse& response, const SignedCertificate& cert,
    const SignedCertificate& issuer, const X509time* time,
    const std::vector<const BasicOCSPResponse*>* alreadyVerified) {
  const ResponseData& data = response.tbsResponseData;
  if (data.responderID.chosenIndex() == 0)
    out() << "\r\nWystawca OCSP: \"" << data.responderID.byName.inner << "\"";
  out() << "\r\nData utworzenia OCSP: ";
  writeTime(data.producedAt);
  out() << " UTC\r\n";
  if (!findSingleResponse(response, cert, issuer, time)) return false;
  out() << "Odpowiedź OCSP odpowiada zadanemu certyfikatowi.\r\n";
  if (data.responseExtensionsPresent) {
    for (POSITION p = data.responseExtensions.inner.GetHeadPosition(); p;) {
      const Extension* e = data.responseExtensions.inner.GetNext(p);
      if (!e->critical.get()) continue;
      std::string text;
      e->extnID.toString(text);
      out() << "Nieobsługiwane krytyczne rozszerzenie listy CRL: ";
      out().writeFormatted("%s", text.c_str());
      out() << "\r\nOdpowiedź OCSP posiada niepoprawne rozszerzenia.\r\n";
      return false;
    }
  }
  if (alreadyVerified) {
    for (const BasicOCSPResponse* v : *alreadyVerified)
      if (v && v->signature == response.signature && sameEncoding(v->tbsResponseData, data))
        return true;
  }
  out() << "Przystępuję do weryfikacji odpowiedzi OCSP.\r\n";
  if (verifyResponder(response, cert, issuer, time) != 0) {
    out() << "Weryfikacja odpowiedzi OCSP nie powiodła się.\r\n\r\n";
    return false;
  }
  out() << "Odpowiedź OCSP dla certyfikatu podmiotu \"" << cert.tbsCertificate.subject
        << "\", numer: ";
  out().writeInteger(cert.tbsCertificate.serialNumber);
  out() << " została pozytywnie zweryfikowana.\r\n\r\n";
  return true;
}

// ---- CRL verification ----

int RevocationManager::crlIssuerCandidate(const SignedCertRevList& crl,
                                          const SignedCertificate& issuer,
                                          const RevocationArgs& args, bool pathKnown) {
  if (!issuer.isCa()) return -1;
  switch (crlSignatureAnswer(crl.verifySignature(issuer), crl.signature)) {
    case CRL_ANSWER_GOOD:
      break;
    case CRL_ANSWER_BAD:
      return 1;
    case CRL_ANSWER_KEY_DOES_NOT_FIT:
      return -1;
    default:
      return 4;
  }
  if (pathKnown) return 0;
  return environment ? environment->verifyCertificatePathCollecting(issuer, PATH_PURPOSE_CRL_ISSUER,
                                                                     args, collecting)
                     : PATH_RESULT_NO_PATH;
}

int RevocationManager::verifyCrl(const SignedCertRevList& crl, const RevocationArgs& args,
                                 bool* expired, PathCollector* collector) {
  Collecting scope(collecting, collector);
  const TBSCertRevList& tbs = crl.tbsCertList;
  X509time now;
  const X509time* reference = args.timemark ? args.timemark : args.time;
  if (!reference) {
    if (!clock.nowAsTime(now)) return PATH_RESULT_NO_PATH;
    reference = &now;
  }
  if (expired) {
    *expired = tbs.nextUpdatePresent && tbs.nextUpdate < *reference;
    if (*expired) out() << "CRL przeterminowany";
  }
  if (!checkCrlExtensions(crl)) return 4;
  const Extension* akidExt = findExtensionByOid(crlExtensionsOf(crl), id_ce_authorityKeyIdentifier);
  AuthorityKeyIdentifier akid;
  const bool hasAkid = akidExt && akid.decodeOctets(akidExt->extnValue) > 0;

  // Direct trust: trusted-list services, then the two trust-point lists.
  std::vector<const SignedCertificate*> points;
  if (environment) {
    environment->trustedListCertificates(points);
    environment->trustPoints(true, points);
    environment->trustPoints(false, points);
  }
  for (const SignedCertificate* p : points) {
    if (!(p->tbsCertificate.subject == tbs.issuer) || (hasAkid && !matchesKeyIdentifier(*p, akid)))
      continue;
    const int answer = crlSignatureAnswer(crl.verifySignature(*p), crl.signature);
    if (answer == CRL_ANSWER_GOOD) {
      out() << "CRL został bezpośrednio zweryfikowany przez punkt zaufania:\r\n";
      out().writeCertificate(*p);
      recordVerifiedCrl(crl);
      return 0;
    }
    if (answer != CRL_ANSWER_BAD && answer != CRL_ANSWER_KEY_DOES_NOT_FIT) return 7;
  }
  out() << "CRL nie został zweryfikowany bezpośrednio przez żaden punkt zaufania \r\n";

  int result = PATH_RESULT_NO_PATH;
  if (hasAkid) {
    // The path's end certificate signed the CRL and must be a CA.
    SignedCertificate end;
    result = environment ? environment->verifyPathByKeyIdCollecting(tbs.issuer, akid, args, end, collecting)
                         : PATH_RESULT_NO_PATH;
    if (result != 0) return result;
    result = crlIssuerCandidate(crl, end, args, true);
    if (result < 0) result = PATH_RESULT_NO_PATH;
  } else if (environment) {
    // A CA's old and new keys share its name: a certificate of that name whose
    // key did not sign the CRL leaves the others to try.
    // Each try is a signature check with a stranger's key: at most
    // MAX_CRL_ISSUER_CHECKS of them, as a chain search has.
    bool otherKey = false, capped = false;
    int checks = 0;
    for (int source = 0; source < 2 && result == PATH_RESULT_NO_PATH && !capped; ++source) {
      CertificateList found;
      if (source == 0)
        environment->certificatesBySubject(tbs.issuer, found);
      else if (!network || network->queryForCertificatesByDn(tbs.issuer, found) != 0)
        break;
      for (POSITION p = found.GetHeadPosition(); p;) {
        const SignedCertificate* c = found.GetNext(p);
        if (!c->isCa()) continue;
        if (++checks > MAX_CRL_ISSUER_CHECKS || workOver()) {
          capped = true;
          break;
        }
        const int r = crlIssuerCandidate(crl, *c, args, false);
        if (r < 0) continue;
        if (r == 1) {
          otherKey = true;
          continue;
        }
        if (source == 1 && r == 0) environment->rememberCertificate(*c);
        result = r;
        break;
      }
    }
    if (result == PATH_RESULT_NO_PATH && otherKey) result = 1;
  }
  if (result == 0) recordVerifiedCrl(crl);
  return result;
}

// ---- OCSP sources ----

void RevocationManager::clearUsedLists() {
  signatureCrls.clear();
  signatureOcsp.clear();
}

std::shared_ptr<const BasicOCSPResponse> RevocationManager::acceptAnswer(
    const OCSPResponse& answer, const SignedCertificate& cert, const SignedCertificate& issuer,
    const X509time* time, bool& stop) {
  // Decoded privately, its signed part over a copy of its own octets: it
  // outlives `answer`.
  auto basic = std::make_shared<BasicOCSPResponse>();
  if (!checkResponseFormat(answer, *basic)) {
    stop = true;
    return nullptr;
  }
  std::shared_ptr<const BasicOCSPResponse> verified = std::move(basic);
  if (!verifyOcspResponse(verified, cert, issuer, time)) return nullptr;
  ocspCache.push_back(verified);
  return verified;
}

std::shared_ptr<const BasicOCSPResponse> RevocationManager::findOcspResponse(
    const SignedCertificate& cert, const SignedCertificate& issuer, const RevocationArgs& args,
    PathCollector* collector) {
  Collecting scope(collecting, collector);
  for (const BasicOCSPResponse* r : signatureOcsp) {
    // Each try checks a stranger's response: none once the document's account is spent.
    if (workOver()) return nullptr;
    if (!r || !findSingleResponse(*r, cert, issuer, args.time) ||
        !referencedResponse(args.references, *r))
      continue;
    if (!checkOcspResponse(*r, cert, issuer, args.time, nullptr)) continue;
    // The signature's response is lent: one copy, shared by the used list
    // and the caller.
    std::shared_ptr<const BasicOCSPResponse> copy = copyResponse(*r);
    if (copy) usedResponses.push_back(copy);
    out() << "Znaleziono odpowiedź OCSP w podpisie archiwalnym.\r\n";
    return copy;
  }
  if (args.offline) return nullptr;
  for (const auto& r : ocspCache) {
    if (!findSingleResponse(*r, cert, issuer, args.time)) continue;
    out() << "Znaleziono ważną odpowiedź OCSP w cache zweryfikowanych odpowiedzi.\r\n";
    return r;
  }
  // The network honours options 18 and 16 for configured servers and the
  // certificate's own access locations alike; the report says why it is off.
  if (!network) return nullptr;
  const bool servers = network->canQueryNetwork(4, &cert.tbsCertificate.issuer, &out());
  if (!servers && !network->ocspFetchAllowed()) return nullptr;
  OCSPRequest request;
  std::vector<uint8_t> der;
  if (!prepareOCSPRequest(cert, &issuer, *ocspDigest, request) || request.encodeVector(der) < 1)
    return nullptr;
  bool stop = false;
  if (servers) {
    OCSPResponse answer;
    if (network->findOcspServers(cert, issuer, der, answer) == 0) {
      if (auto r = acceptAnswer(answer, cert, issuer, args.time, stop)) return r;
    }
  }
  const Extension* e = findExtensionByOid(cert.tbsCertificate.extensions.inner,
                                          id_pe_authorityInfoAccess);
  AuthorityInfoAccess aia;
  std::vector<std::string> uris;
  if (!e || aia.decodeOctets(e->extnValue) < 1 || !PathVerification::collectOcspUris(aia, uris))
    return nullptr;
  stop = false;
  for (const std::string& uri : uris) {
    OCSPResponse answer;
    if (network->queryForOcsp(uri, der, answer) != 0) continue;
    auto r = acceptAnswer(answer, cert, issuer, args.time, stop);
    if (r || stop) return r;
  }
  return nullptr;
}
