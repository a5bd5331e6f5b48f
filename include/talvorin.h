/* TAL-VORIN: the C interface of the signature-verification library.
 *
 * Every function returns a result code of the table below (0 to 10 success, 10 success with
 * warnings in the report, 11 and above failure) or a text; no exception leaves it. Texts are
 * owned by the library. The fixed ones (talErrorText, talReasonText, signatureStatusText) are
 * Windows-1250. The report (talReportText) is in the character set chosen once per process, at
 * the first talInitEx: by PL_STANDARD when set (UTF8 or UTF-8, WINDOWS for Windows-1250, LATIN2
 * for ISO 8859-2, 852, MAZOVIA; any other value plain ASCII), else by the character set named
 * after the '.' of the first of LC_ALL, LC_CTYPE, LC_MESSAGES and LANG that is set and not
 * empty (UTF-8 under C.UTF-8, ASCII under C or POSIX; LANGUAGE only when none of them is), else
 * Windows-1250. Every line of the report ends in CR LF.
 *
 * Handles are freed by their delete functions (talDeleteCertificate, talDeleteProfile,
 * talDeleteBuffer, talDeleteStream, tvXmlDeleteCtx, tvXmlDeleteMsgInfo), each once: NULL, a
 * handle already freed or one of another kind answers 20 (talDeleteServerIterator answers 0
 * for NULL).
 *
 * A verifier of XML signatures, in short (examples/verify_upo.c does it in full):
 *   profile = talCreateProfile(TAL_PROFILE_MEMORY);
 *   talSetProfileAttr(profile, TAL_ATTR_NAME, name, size);             any name
 *   talSetProfileAttr(profile, TAL_ATTR_DATABASE, "w pamieci", 10);    nothing kept on disk
 *   talInitEx(&ctx, profile);
 *   talInstallRoot(ctx, root, TAL_ROOT_SESSION, 1);                    each trusted root
 *   talInstallMemCrt(ctx, der, length, 1, &count);                     other certificates
 *   talSetOption(ctx, TAL_OPTION_OFFLINE, 1);                          when no network is wanted
 *   talAuthenticateEx(ctx, 0);
 *   tvXmlCreateCtx(&xml); tvXmlLoadDocFile(xml, path, NULL, &doc);
 *   tvXmlUnprotect(ctx, xml, doc, NULL, &message);                     every signature
 *   talGetMessageSignature(message, 0, &signature); talSignatureStatus(signature, ...);
 *   tvXmlDeleteMsgInfo(message); tvXmlDeleteCtx(xml); talDeinit(ctx); */
#ifndef TALVORIN_H
#define TALVORIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library context, opaque to the caller. */
typedef struct talCtx talCtx;
/* A key profile (talCreateProfile), a certificate (talAllocateCertFromFile), a server iterator,
 * the results of a verification (a message and its signatures) and a byte stream: opaque. */
typedef struct talProfile talProfile;
typedef struct talCert talCert;
typedef struct talServerIterator talServerIterator;
typedef struct talMsgInfo talMsgInfo;
typedef struct talSigInfo talSigInfo;
typedef struct talStream talStream;

/* Threads. Every handle may be handed to calls on several threads at once; what they share:
 * - a library context (talCtx): the calls on it take turns, each whole; for work in parallel
 *   each thread takes its own copy (talCloneCtx). A call begun before talDeinit on another
 *   thread runs to its end (the close waits for it); a call after the close answers 21.
 * - an XML context (tvXmlCtx) with its documents: the calls on it take turns, each whole.
 * - a profile: the calls through its handle take turns, and once talInitEx has taken the
 *   profile, also with the calls on that context (which reads the profile).
 * - a certificate, a message and its signatures, a server iterator, a buffer: any number of
 *   calls read one at once; a delete waits for the calls of other threads that read it, and
 *   later calls answer 20.
 * - a stream serves one call at a time (see talCreateFileStream). */

/* Result codes. Code 134 ("the profile attribute has no value") shares the name of 133. */
#define TAL_OK 0
#define TAL_OK_NEED_CARD 1
#define TAL_OK_NEED_CRYPTO_CARD 2
#define TAL_OK_NEED_OSTRA 3
#define WTAL_GENERIC_WARNING 10
#define ETAL_API_INV_PAR 20
#define ETAL_API_INV_CTX 21
#define ETAL_API_NOT_INITED 22
#define ETAL_INV_REG 24
#define ETAL_KEYS_NOT_PRES 25
#define ETAL_TAL_HOME 26
#define ETAL_WSOCK 27
#define ETAL_NO_SKEY_PATH 28
#define ETAL_EKEYS_NOT_PRES 29
#define ETAL_SKEYS_NOT_PRES 30
#define ETAL_SEED_NOT_PRES 31
#define ETAL_CONF_NOT_PRES 32
#define ETAL_TOO_MANY_KEYS 33
#define ETAL_TOO_MANY_EKDS 34
#define ETAL_SGN_PIN_NOT_PRES 35
#define ETAL_DEC_PIN_NOT_PRES 36
#define ETAL_OST_LIB 37
#define ETAL_OST_NOT_FOUND 38
#define ETAL_OST 39
#define ETAL_EKD_NOT_FOUND 40
#define ETAL_NO_PKCS_LIB 41
#define ETAL_PKCS_LIB_INIT 42
#define ETAL_CRD_NOT_FOUND 43
#define ETAL_CRD_COM 44
#define ETAL_CRD_BLOCKED 45
#define ETAL_PASSWORD 46
#define ETAL_OP_INFILE 56
#define ETAL_OP_OUTFILE 57
#define ETAL_OP_TMPFILE 58
#define ETAL_RD_INFILE 59
#define ETAL_RD_TMPFILE 60
#define ETAL_WR_TMPFILE 61
#define ETAL_WR_OUTFILE 62
#define ETAL_NO_CA_AUTO_CRT 63
#define ETAL_CRTAFTER 64
#define ETAL_CRTBEFORE 65
#define ETAL_CRTALG 66
#define ETAL_CRTNOTFOUND 67
#define ETAL_CRTREV 68
#define ETAL_CRTHANG 69
#define ETAL_CRTSIGN 70
#define ETAL_CRTPOL 71
#define ETAL_USERCRT 72
#define ETAL_INV_CRT_FMT 73
#define ETAL_INV_CRT_PROF 74
#define ETAL_NOT_MY_CA 75
#define ETAL_UNP_KEY_CRT 76
#define ETAL_DEKKEY 77
#define ETAL_DESPAD 78
#define ETAL_DESMOD8 79
#define ETAL_RSA 80
#define ETAL_PUBKEY 81
#define ETAL_SECKEY 82
#define ETAL_SFT_OPEN 83
#define ETAL_SFT_FMT 84
#define ETAL_SFT_READ 85
#define ETAL_SFT_WRITE 86
#define ETAL_OLD_CRL 87
#define ETAL_INV_CRL_FMT 88
#define ETAL_INV_TAL_MSG 89
#define ETAL_NO_TAL_MSG 90
#define ETAL_CANT_FIND_DN 91
#define ETAL_DIGALG 92
#define ETAL_SYMALG 93
#define ETAL_MSGSIGN 94
#define ETAL_NOTADDR 95
#define ETAL_RECCRT 96
#define ETAL_WRIMSG 97
#define ETAL_FILE 98
#define ETAL_LOCK 99
#define ETAL_MEM 100
#define ETAL_CRL_EXPIRED 101
#define ETAL_CRL_NOT_FOUND 102
#define ETAL_TCP_CON 103
#define ETAL_TCP_SOCK 104
#define ETAL_TCP_CLOSED 105
#define ETAL_TCP_TIMEOUT 106
#define ETAL_TCP_PROT 107
#define ETAL_TCP_NO_SRV 108
#define ETAL_SRV_BAD_CA 109
#define ETAL_SRV_NO_CRL 110
#define ETAL_DC_CRL_FMT 111
#define ETAL_DC_CRL_ISS 112
#define ETAL_INV_WRK_MODE 113
#define ETAL_LOG 118
#define ETAL_MSGSIGN_STR 119
#define ETAL_KEY_IMP_DEV 114
#define ETAL_INV_KEY_FMT 115
#define ETAL_INV_KEY_PASS 116
#define ETAL_INV_KEY_PROT 117
#define ETAL_BUFF_TO_SHORT 120
#define ETAL_NO_SENDR_CRT 122
#define ETAL_DN_NOT_PRESENT 123
#define ETAL_TS_REQ_SIGN 124
#define ETAL_TS_NO_SERVER_DEF 125
#define ETAL_TS_NETWORK_FAIL 126
#define ETAL_TS_VERIF 127
#define ETAL_TS_ALL_SERVERS_FAIL 128
#define ETAL_PROFILE_NOT_LOADED 129
#define ETAL_PKCS_NOT_INIT 130
#define ETAL_KEY_NOT_FOUND 131
#define ETAL_TRUSTED_CA_DIFFERENT_GROUP 132
#define ETAL_ATTR_HAS_NO_VALUE 133
#define ETAL_KEYLEN_NOT_OSTRAS 135
#define ETAL_VALUE_OUTOF_RANGE 136
#define ETAL_NOT_IMPL 137
#define ETAL_XML_INV_POINTER 138
#define ETAL_XML_EMPTY_TRANSFORM 139
#define ETAL_XML_TRANSFORM_FAILED 140
#define ETAL_INTERNAL_ERROR 141
#define ETAL_ROOTS_PIN_NOT_PRES 144
#define ETAL_OST_DLL_FNC_LOAD_ERR 145
#define ETAL_ROOTS_PASSWORD 146
#define ETAL_TOO_MANY_TOKENS 147
#define ETAL_CRT_WITH_SUCH_USAGE_EXISTS 148
#define ETAL_KEY_WITH_SUCH_USAGE_EXISTS 149
#define ETAL_SGN_KEY_PIN_NOT_PRES 150
#define ETAL_SGN_KEY_PASSWORD 151
#define ETAL_SRV_EXIST 152
#define ETAL_TOO_MANY_CONTEXTS 153
#define ETAL_RECERTIFICATION_WITH_DIFF_DN 154
#define ETAL_PATH_VER_ERR 155
#define ETAL_ADD_ARCHIVE_ERROR 156
#define ETAL_DB 158
#define ETAL_SIG_WITH_DIG_NOT_SUPPORTED 159
#define ETAL_DB_VER 160
#define ETAL_UNKNOWN_EXCEPTION 161
#define ETAL_PROFILE_LOAD_ERROR 163
#define ETAL_TEXT_CONVERT 164
#define ETAL_ACTION_CANCELLED 165
#define ETAL_DB_ACCESS 167
#define ETAL_SRV_NOT_FND 168
#define ETAL_CRL_HTTPS_RECURENCE 169
#define ETAL_INV_TSL_FORMAT 170
#define ETAL_NO_ROOTS 171
#define ETAL_FILE_NOT_SGN_FOR_COUNTERSGN 172
#define ETAL_TS_REJECTED 173
#define ETAL_LIBVORINPP_TEST_FAILED 174
#define ETAL_NO_PROFILE_NAME 177
#define ETAL_PDF_APP_INV_PAGE_NUM 178
#define ETAL_PDF_APP_INV_RECT 179
#define ETAL_PDF_IS_ENCRYPTED 180
#define ETAL_UNSUPPORTED_ALGO_CERT_VERSION 181
#define ETAL_UNSUPPORTED_KEY_LEN_CERT_VERSION 182

/* The message of a result code. ctx may be NULL or not a context; with a context, some codes are
 * formatted from its state. The text stays valid until the next talErrorText call with the same
 * context (for an invalid context: on the same thread). NULL only after an internal failure. */
const char* talErrorText(talCtx* ctx, int32_t code);

/* The report of the context's last operation, lines ending in CR LF; never NULL ("" for an
 * invalid context). */
const char* talReportText(talCtx* ctx);

/* The text of a signature's reason (1..23 without 16), NULL for any other value. */
const char* talReasonText(int32_t reason);

/* The text of a signature's status (1..4), NULL for any other value. Not traced. */
const char* signatureStatusText(int32_t status);

/* ---- Opening and closing a context ---- */

/* Builds a context from a profile, which the call takes on every path (deleted on failure).
 * TAL_OK for a memory or PKCS#12 profile, TAL_OK_NEED_CRYPTO_CARD for PKCS#11,
 * TAL_OK_NEED_OSTRA for the hardware device; ETAL_LIBVORINPP_TEST_FAILED when the self-tests of
 * the cryptographic library fail (tried again on the next call). */
int32_t talInitEx(talCtx** ctx, talProfile* profile);
/* Opens the profile's database and keys and writes the initialisation report; flags must be 0.
 * The file-backed database (profile attributes 17 and 16) is checked here, and made, with its
 * folder, where the folder holds no file of a database (its tables, their journals, CRL
 * files): ETAL_DB (158) for no folder named, a database that is not whole or a folder that
 * cannot take one, ETAL_DB_VER (160) for one of another version, ETAL_DB_ACCESS (167) for a
 * folder that may not be read or a file named as the folder; their files are left as they
 * are. */
int32_t talAuthenticateEx(talCtx* ctx, int32_t flags);
/* Stores what the context collected and destroys it; on failure the context stays open.
 * A context remembers the certificates it meets while verifying (those of a verified signature,
 * of an OCSP response, fetched from the network) to complete later verifications: they are
 * searched after the document's own certificates, the trusted roots and the database, so a
 * receipt that verifies in a fresh context verifies in one that served any documents before.
 * One call (one document's tvXmlUnprotect) adds at most 64 certificates of 256 KiB in all, and
 * the context holds at most 1,024 of 4 MiB (a certificate counted by its octets and 256 for each
 * attribute of its subject and issuer, what a decoded one holds); past either bound a certificate met is not
 * remembered (nothing held is dropped for it). talDeinit and talCloneCtx store what is held in
 * the profile's database (a file-backed one keeps it for later processes) and empty it. */
int32_t talDeinit(talCtx* ctx);
/* A ready copy of the context for another thread, closed with talDeinit. */
int32_t talCloneCtx(talCtx* source, talCtx** clone);
/* Fills the buffer with random bytes from a ready context. */
int32_t talRbgFill(talCtx* ctx, uint8_t* buffer, int32_t length);

/* ---- Options ---- */

/* Option 2: 3 or 4. Option 15 (digest for signing) and the low byte of option 25 (signature
 * algorithm) take the hash numbers below; option 25's second byte is the scheme: 0x100
 * RSA PKCS#1 v1.5, 0x200 DSA, 0x300 ECDSA, 0x400 RSA-PSS. Option 21: 2 3DES, 4/5/6 AES-128/
 * 192/256 (CBC). A refusal leaves the reasons in the report. What a verifier sets (the example
 * sets all three to 0):
 *   option 12  0 (default): a signature's time-stamp tokens are verified newest first until
 *              one is fully valid, the older ones not; 1: every token is verified;
 *   option 23  0 (default): nothing verified is kept; 1: the context keeps verified
 *              certification paths and revocation answers, reused until they expire;
 *   option 27  1 (default): for a time-stamped signature, a CA certificate's CRL or OCSP
 *              answer must be issued after the time-stamp, as an end entity's must (else the
 *              signature is incomplete); 0: a CA certificate's needs only to be in force then
 *              (its next update not before the time-stamp). */
int32_t talSetOption(talCtx* ctx, int32_t option, int32_t value);
/* Option 18: 1 turns the network off (no CRL, OCSP or certificate is fetched; revocation data
 * then comes only from what the verified document carries). */
#define TAL_OPTION_OFFLINE 18

/* ---- Certificates, roots and hashing ---- */

/* Hash numbers: 1 SHA-1, 2 MD5, 3 SHA-224, 4 SHA-256, 5 SHA-384, 6 SHA-512, 7 RIPEMD-128,
 * 8 RIPEMD-160. */
#define TAL_HASH_SHA1 1
#define TAL_HASH_MD5 2
#define TAL_HASH_SHA224 3
#define TAL_HASH_SHA256 4
#define TAL_HASH_SHA384 5
#define TAL_HASH_SHA512 6
#define TAL_HASH_RIPEMD128 7
#define TAL_HASH_RIPEMD160 8

/* Reads a DER (or armoured) certificate file; free it with talDeleteCertificate (once: 20 for
 * a handle already freed or never handed out). */
int32_t talAllocateCertFromFile(const char* path, talCert** certificate);
int32_t talDeleteCertificate(talCert* certificate);
/* *flag 1 for a self-signed CA certificate whose signature verifies, else 0. */
int32_t talIsCAAutoCert(talCert* certificate, int32_t* flag);
/* Installs a trusted root (a self-signed CA certificate); a non-zero group selects the first
 * (qualified) trust group. Kinds: 1 also stored in the user's settings (83 when their key cannot
 * be opened, 86 when it cannot be written; the root is then installed in this context all the
 * same): the roots stored so are trusted by every later context of the user, from its
 * talAuthenticateEx on; 2 for this context only, nothing written; 3 and 4 (the hardware
 * device's) answer 137. A root trusted in the same group as the same kind answers 0 and changes
 * nothing; one trusted in the other group, or of the subject of one, answers
 * ETAL_TRUSTED_CA_DIFFERENT_GROUP (132). The stored roots count from talAuthenticateEx on (for a
 * kind-1 root at once): a stored root installed after it in the other group answers 132, one
 * installed there before it keeps the stored one out of this context (it stays stored). */
#define TAL_ROOT_STORED 1
#define TAL_ROOT_SESSION 2
int32_t talInstallRoot(talCtx* ctx, talCert* certificate, int32_t kind, int32_t group);
/* Stores the DER certificates of the buffer (flag must be 1: 0 answers ETAL_KEYS_NOT_PRES (25),
 * or 20 in a context that holds both its keys); *count gets how many, also when a database
 * failure (158) ends the import: those before it stay stored when the count says so. A
 * file-backed database made by talAuthenticateEx takes them only from then on (158 before). */
int32_t talInstallMemCrt(talCtx* ctx, const uint8_t* buffer, int32_t length, int32_t flag,
                         int32_t* count);
/* The certificate's DER in a new buffer, freed with talDeleteBuffer. */
int32_t talGetCrtMem(talCert* certificate, uint8_t** buffer, int32_t* length);
/* The digest of a file's content at the start of the buffer. */
int32_t talHashFile(const char* path, int32_t hash, uint8_t* buffer, int32_t length);
/* Zeros over the first length bytes of a buffer handed out by the library, then freed (once: 20
 * for a buffer already freed or never handed out, which is left alone). */
int32_t talDeleteBuffer(void* buffer, int32_t length);
int32_t talNetCacheSetTimeout(int32_t value);

/* ---- Profiles, proxies and results ---- */

#define TAL_PROFILE_PKCS12 1
#define TAL_PROFILE_OSTRA 3
#define TAL_PROFILE_PKCS11 5
#define TAL_PROFILE_MEMORY 7

/* NULL for another type. */
talProfile* talCreateProfile(int32_t type);
int32_t talDeleteProfile(talProfile* profile);
/* Attributes (value and length in bytes, a text with its NUL) a verifier sets: 0 the profile's
 * name; 17 the certificate database: "w pamieci" in memory, nothing kept on disk ("talvorin" a
 * file-backed one, "brak" none); 16 the file-backed database's folder (a relative name goes
 * under $XDG_DATA_HOME/TAL-VORIN/, else ~/.local/share/TAL-VORIN/; see talAuthenticateEx);
 * 9 (a PKCS#12 profile) the path of its key file. */
#define TAL_ATTR_NAME 0
#define TAL_ATTR_PKCS12_FILE 9
#define TAL_ATTR_DATABASE_FOLDER 16
#define TAL_ATTR_DATABASE 17
int32_t talSetProfileAttr(talProfile* profile, int32_t number, const void* value,
                          int32_t length);
int32_t talGetProfileAttr(talProfile* profile, int32_t number, void* buffer, int32_t* length);
/* login and password may be NULL for a proxy without authentication. */
int32_t talAddProxy(talProfile* profile, const char* address, int32_t port, const char* login,
                    const char* password);
/* New copies for each non-NULL text pointer, freed with talDeleteBuffer. */
int32_t talGetProxy(talProfile* profile, char** address, int32_t* port, char** login,
                    char** password);
int32_t talDeleteServerIterator(talServerIterator* iterator);
/* The worst status of the message's signatures (signatureStatusText): 1 not verifiable,
 * 2 invalid, 3 incomplete (e.g. no revocation data), 4 every signature verified. */
int32_t talMsgStatus(const talMsgInfo* message, int32_t* status);
int32_t talGetMessageSignatureCount(const talMsgInfo* message, int32_t* count);
int32_t talGetMessageSignature(const talMsgInfo* message, int32_t index,
                               talSigInfo** signature);
/* status 1..4 (signatureStatusText; 4 verified), reason 0 (none) or 1..23 (talReasonText), and
 * the qualification of the signer's certificate: */
#define TAL_QUALIFICATION_UNKNOWN 1 /* not established (no path, or it could not tell) */
#define TAL_QUALIFICATION_QUALIFIED 2
#define TAL_QUALIFICATION_ORDINARY 3
int32_t talSignatureStatus(const talSigInfo* signature, int32_t* status,
                           int32_t* qualification, int32_t* reason);
int32_t talGetSignatureTimeStampCount(const talSigInfo* signature, int32_t* count);
int32_t talGetCounterSignatureCount(const talSigInfo* signature, int32_t* count);
/* Protects a message stream (the input, from its start) into the output stream: flags 1
 * encrypt, 2 sign, 64 sign when option 3 asks for it, 128 the bare DER form without the key
 * manager's message layer (what a time-stamp request is signed in), 256 refused. The context's
 * signing key signs; recipients is a NULL-terminated array of talCert handles (the recipients'
 * certificates; any other pointer in it answers 20) when the flags encrypt, else ignored.
 * What options 7 to 10 select:
 *   option 7 (alone)  the bare DER CMS ContentInfo, no MIME headers;
 *   option 8          a detached signature (multipart/signed with application/pkcs7-signature)
 *                     in place of the opaque application/pkcs7-mime; smime-type=signed-data;
 *   option 9          the input is already a MIME entity and is protected as it is;
 *   option 10         the input is text: it becomes a text/plain entity with CR LF line ends.
 * Otherwise the input travels as an application/octet-stream entity. Encryption gives
 * application/pkcs7-mime; smime-type=enveloped-data; with signing too, the signed message is
 * enveloped. With option 20 set, encryption alone takes only a signed message of this library
 * (else 89) and refuses option 7 (20). The output stream is emptied before the message is
 * written, and again when the protection fails; two streams over one file are refused (20). */
int32_t talProtectMessageGF(talCtx* ctx, const void* recipients, talStream* input,
                            talStream* output, int32_t flags);

/* Streams for talProtectMessageGF. A file stream reads an existing file (mode 0) or creates or
 * empties one to write (mode 1): 0, 20 bad arguments or (mode 1) a file another live stream is
 * over, 56 / 57 the file cannot be opened or is not a regular file (a FIFO, a device). A
 * memory stream starts with a copy of length bytes of data (NULL and 0: empty). The bytes of a
 * memory stream are copied out with talGetMemStreamData (released with talDeleteBuffer; 20 for
 * a file stream). talDeleteStream closes and frees a stream; 20 for anything else. A stream
 * serves one call at a time: while a call uses it, another call handed it (talDeleteStream
 * included) answers 20. */
int32_t talCreateFileStream(const char* path, int32_t mode, talStream** stream);
int32_t talCreateMemStream(const uint8_t* data, int32_t length, talStream** stream);
int32_t talGetMemStreamData(talStream* stream, uint8_t** data, int32_t* length);
int32_t talDeleteStream(talStream* stream);
/* The PIN of a key usage (1 signing, 2 decryption, 8 and 16 the other key stores), kept in the
 * context for the key loading of talAuthenticateEx (and a token's new login): a copy, wiped when
 * it is handed out (unless option 5 keeps PINs for a while), replaced or the context closes. */
int32_t talSetPin(talCtx* ctx, int32_t usage, const char* pin);

/* XML signatures. A context (tvXmlCreateCtx) holds the documents loaded into it; tvXmlUnprotect
 * verifies every signature of one document inside an open library context and hands back the
 * results, read with the talMsg and talSignature functions above. With option 4 set the results
 * own the XML context, which then dies with them. */
typedef struct tvXmlCtx tvXmlCtx;
typedef struct tvXmlDoc tvXmlDoc;
int32_t tvXmlCreateCtx(tvXmlCtx** context);
int32_t tvXmlDeleteCtx(tvXmlCtx* context);
/* value points to a 4-byte integer and length is 4; else, or for an option outside 0..5 or a
 * value it does not take, 20 and nothing changes. Option 4: non-zero makes the results of the
 * next tvXmlUnprotect own this context (it dies with them; 0 does not undo it). Options 0 (0, 1
 * or 2), 1 (0 or any of the bits 1, 2, 4), 2 (0 or with the bit 2), 3 (any) and 5 (any) are
 * kept and change nothing in a verification. */
int32_t tvXmlSetOption(tvXmlCtx* context, int32_t option, const void* value, int32_t length);
/* owner NULL for a document to verify: one loaded with an owner is refused by tvXmlUnprotect
 * (20). */
int32_t tvXmlLoadDocFile(tvXmlCtx* context, const char* path, void* owner, tvXmlDoc** document);
/* tvXmlUnprotect, one context over many documents: what the context keeps of the CRLs a document
 * brought (carried in its signatures or read from the database), for the documents after it: a
 * CRL an earlier document left may complete a later verification; one never verified in the
 * context that fails to verify there is dropped and decides nothing. A refused document (140)
 * leaves none. After each document the context keeps at most 32 of the CRLs that document
 * brought, 4 never verified of one issuer, and 256 CRLs of 16 MiB (their encodings) in all; past
 * a bound the ones learned longest ago go first, those never verified before those verified. A
 * document's own CRLs serve it whole while it is verified. At most 256 CRLs fetched and verified
 * wait for the database (talDeinit); later ones are not stored there. OCSP responses fetched are
 * kept for one certification path only. */
/* expression NULL verifies every ds:Signature of the document (encrypted data decrypted first);
 * else an XPointer selects the signatures to verify ("" answers 20, nothing selected 139). */
int32_t tvXmlUnprotect(talCtx* ctx, tvXmlCtx* context, tvXmlDoc* document, const char* expression,
                       talMsgInfo** message);
/* Adds the number of the signature's signed objects (its same-document references of no type
 * or of type Object, the ones tvXmlSaveObjFile saves) to *count: set it to 0 first. */
int32_t tvXmlGetObjCount(tvXmlCtx* context, const talSigInfo* signature, int32_t* count);
int32_t tvXmlSaveObjFile(tvXmlCtx* context, const talSigInfo* signature, int32_t index,
                         const char* path);
/* Releases the results of tvXmlUnprotect (and the XML context they own under option 4). */
int32_t tvXmlDeleteMsgInfo(talMsgInfo* message);

#ifdef __cplusplus
}
#endif

#endif /* TALVORIN_H */
