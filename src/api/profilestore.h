// Key profiles kept in the registry. A profile's settings go through a UniversalConfMgr tree
// (its attributes, proxy and named parameters, under the value names below) and from the tree
// to the current user's key SOFTWARE\MIRVAL KSO\TALVORIN\3.9\Profiles\<profile name>; reading
// loads that key into a tree and builds the profile from it.
//
// Values of the profile's key: "ProfileType" (DWORD), "ProfileName" (0), "PKCS11Library" (3),
// "ReaderName" (5, the token's label), "KeyLabel" (6), "Pkcs12File" (9), "Text14", "Text15",
// "ProfilePath" (16), "DbType" (17), "ExternalSigningPin" (21), "ExternalDecryptionPin" (22),
// "Pkcs11Flag27", "Pkcs11Flag32", "Pkcs11Flag34", "Pkcs12Data" (30), "Flag37"; "ProxyAddress",
// "ProxyPort", "ProxyLogin", "ProxyPassword"; and the subkey "Parameters" with one text value
// per named parameter ("db", "dbname" ...; names lower case). Attributes that are not set have
// no value. A text attribute passed with one terminating zero (as the C API's callers pass
// texts) is a REG_SZ and reads back with that zero; any other octets are kept as REG_BINARY;
// 4-byte attributes are REG_DWORD.
#pragma once

#include <cstdint>
#include <string>

class TalProfile;
class UniversalConfMgr;

// Below the settings key of the current user.
extern const char* const PROFILE_REGISTRY_KEY;  // "SOFTWARE\MIRVAL KSO\TALVORIN\3.9\Profiles"

// Replaces the tree's contents by the profile's settings.
void profileToTree(const TalProfile& profile, UniversalConfMgr& tree);
// A new profile of the tree's type holding its settings; NULL when the tree names no profile
// type. A setting the profile refuses (a 4-byte attribute of another length, one its type does
// not have) throws TalException with code 24.
TalProfile* profileFromTree(const UniversalConfMgr& tree);

// Writes the profile under its name: 0; 20 no name, or one that is no registry key name
// (empty, with '\', "/", "..", or too long); 24 the registry refused a write; 100 out of
// memory. Values of a setting no longer set are removed; values of other names are left.
int32_t storeProfile(const TalProfile& profile);
// The stored profile of that name, NULL when there is none; throws as profileFromTree.
TalProfile* loadStoredProfile(const std::string& name);
