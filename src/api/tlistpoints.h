// Trusted lists as the key manager's trust points: the reader sits with the XML
// code and the key manager beside it, so the two meet here, above both.
#pragma once

#include "keys/keymanager.h"
#include "xmlsig/trustedlist.h"

#include <memory>
#include <string>

// The trust points a list gives, by kind (1 CA/PKC, 2 CA/QC, 3 TSA, 4 OCSP, the
// kinds path building asks for): the certificates of its indexed services whose
// status says they are in force (under supervision, supervision in cessation,
// accredited). A service without a certificate, or whose supervision or
// accreditation ceased or was revoked, gives none.
TrustedListService trustPointsOf(const TrustedList& list);

// Registers the list and hands its trust points to the key manager under the
// same name, replacing those of an earlier list of that operator. The name; a
// list without an operator's name throws TalApiException 170 and changes nothing.
std::string registerTrustedList(TrustedListRegistry& registry, KeyManager& keys,
                                std::unique_ptr<TrustedList> list);
