// The background refresh of a file-backed database: per database directory and process, one
// thread fetches the latest CRL and one the certificate bundle, each on its own clone of the
// context that started them, and leaves what it fetched in the directory's "cache" folder; the
// contexts import it into the database when they open and close.
//
// The cache folder ("cache" in the database directory), guarded by the lock file
// "semaphore.lck" there (writers exclusive, importers shared):
//   "ostatni.crl"            the latest CRL fetched (DER)
//   "ostatni_crl_czas.txt"   when it was fetched (seconds since 1970, decimal)
//   "certific.dta"           the certificate bundle as fetched (DER values one after another)
//   "*.crt"                  each certificate of the bundle (DER), named by its SHA-1
//   "certyfikaty_czas0.txt"  when the bundle was fetched
//   "certyfikaty_czas1.txt"  the fetch time of the bundle last imported
// Every file is written under a temporary name and renamed into place, so no reader (and no
// writer killed half-way) ever leaves a half-written file to import.
//
// The threads poll in steps of 5000 ms until their interval has passed since the last fetch
// (the registry values below; a fetch that fails waits a whole interval too). They stop when
// the last context that uses them closes, or at process exit, whichever comes first: a fetch in
// flight is cancelled within about a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TalProfile;
struct talCtx;

// Intervals in seconds, registry values under NET_REGISTRY_KEY (see netRegistrySeconds).
extern const char* const REFRESH_CRL_VALUE;   // "crlrefresh"
extern const char* const REFRESH_CERT_VALUE;  // "certrefresh"
constexpr uint64_t REFRESH_CRL_DEFAULT_SECONDS = 3600;
constexpr uint64_t REFRESH_CERT_DEFAULT_SECONDS = 86400;

extern const char* const REFRESH_CACHE_FOLDER;  // "cache"
extern const char* const REFRESH_LOCK_FILE;     // "semaphore.lck"
extern const char* const REFRESH_CRL_FILE;      // "ostatni.crl"
extern const char* const REFRESH_CRL_TIME_FILE; // "ostatni_crl_czas.txt"
extern const char* const REFRESH_BUNDLE_FILE;   // "certific.dta"
extern const char* const REFRESH_FETCH_TIME_FILE;   // "certyfikaty_czas0.txt"
extern const char* const REFRESH_IMPORT_TIME_FILE;  // "certyfikaty_czas1.txt"

// The cache folder (with a trailing '/') of the context's database; false unless the context
// uses the file-backed database.
bool refreshCacheFolder(talCtx* context, std::string& folder);
// Imports what the threads left: the CRL, verified as any CRL is, into the CRL database; the
// certificates of a bundle not yet imported into the certificate store. No result: what cannot
// be read or stored stays for the next import.
void importRefreshedData(talCtx* context);
// Starts the two threads of the context's database unless they run already (nothing for a
// database other than the file-backed one); the context then counts as one of their users.
void startNetworkThread(const TalProfile* profile, talCtx* context);
// The context no longer uses the threads; the last user to leave stops them and waits.
void leaveNetworkThreads(const talCtx* context);
// Stops every refresh thread of the process and waits for them (run at exit as well).
void stopNetworkThreads();
// Database directories whose threads run.
size_t networkThreadCount();
