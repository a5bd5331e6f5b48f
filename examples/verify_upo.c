/* Verifies a receipt (UPO) and the declaration it confirms, over the public C API only:
 *   verify_upo [--offline] RECEIPT.xml DECLARATION TRUST-FOLDER
 * TRUST-FOLDER holds certificates (*.crt, *.pem, *.der, *.cer; DER or PEM): self-signed CA certificates become
 * trusted roots of this session (no settings written), the others additional certificates. --offline turns the network off (option 18):
 * revocation data then comes only from the receipt itself (its xades:RevocationValues), since the
 * C interface takes no CRL file.
 * The program prints the library's verification report, the receipt's fields, the signature's
 * status and reason, and one verdict line. It exits 0 when the signature is verified and the
 * declaration's digest equals the receipt's "SkrotDokumentu"; 1 when the receipt is rejected (a
 * file that is not XML, or whose signature the library refuses, included), the verdict naming the
 * library's status and reason or result code; 2 when it could not run: a missing, empty or
 * unreadable receipt, trust folder or (for a verified signature) declaration or temporary folder
 * ($TMPDIR, else /tmp: where each signed object is saved to be read), or a bad command line. The library's fixed texts (codes, statuses, reasons) are Windows-1250, its report is asked
 * for in UTF-8 (PL_STANDARD), the receipt's fields are UTF-8: each is printed in the terminal's
 * character set with every control character shown escaped, the report indented, and so are the
 * names of the inputs in its messages, so that the verdict is the one line that starts with
 * "Werdykt:" whatever the receipt, a certificate or a file's name holds.
 * Build against an installed copy:
 *   cc -std=c99 verify_upo.c $(pkg-config --cflags --libs talvorin libxml-2.0) */
#define _POSIX_C_SOURCE 200809L
#include <talvorin.h>

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

enum { EXIT_VERIFIED = 0, EXIT_REJECTED = 1, EXIT_NOT_RUN = 2 };

/* The receipt's elements, in the order they are printed. */
static const char* const FIELDS[] = {
    "NazwaPodmiotuPrzyjmujacego", "NumerReferencyjny", "SkrotDokumentu", "SkrotZlozonejStruktury",
    "NazwaStrukturyLogicznej", "DataWplyniecia", "StempelCzasu", "PESEL1", "NIP1",
    "NumerIdentyfikacyjny", "PESEL2", "NIP2", "KodUrzedu", "KodFormularza", "Przyjeto"};
#define FIELD_COUNT (sizeof FIELDS / sizeof FIELDS[0])
enum { DIGEST_FIELD = 2 };

/* Everything printed that the data could hold (the report, the receipt's fields, file names) goes
 * through printData: a character is printed in the terminal's character set ('?' where the set
 * lacks it) unless it is a control, which is shown escaped so that no data item can break its line,
 * print a verdict of its own or drive the terminal: C0 but TAB, DEL and each byte of invalid UTF-8
 * as \xHH, C1, U+2028/U+2029 and the bidirectional overrides and isolates as <U+HHHH>. Within a
 * name's quotes '"' and '\' are shown as \" and \\ too, so that a name can neither close its
 * quotes nor pass its own text off as an escape. */
static iconv_t toTerminal = (iconv_t)-1; /* UTF-8 to the terminal's set; unused for a UTF-8 one */
static int terminalUtf8;

static void openTerminal(void) {
  const char* codeset = nl_langinfo(CODESET);
  terminalUtf8 = !strcasecmp(codeset, "UTF-8") || !strcasecmp(codeset, "UTF8");
  if (!terminalUtf8) toTerminal = iconv_open(codeset, "UTF-8");
}

/* The length of the valid UTF-8 character at s (n bytes left) and its code point; 0 for none
 * (stray or missing continuation, overlong form, surrogate, beyond U+10FFFF). */
static size_t decodeUtf8(const unsigned char* s, size_t n, unsigned long* cp) {
  size_t extra, k;
  unsigned long least;
  if (s[0] < 0x80) {
    *cp = s[0];
    return 1;
  }
  if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    extra = 1, least = 0x80, *cp = s[0] & 0x1F;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    extra = 2, least = 0x800, *cp = s[0] & 0x0F;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    extra = 3, least = 0x10000, *cp = s[0] & 0x07;
  } else {
    return 0;
  }
  if (n <= extra) return 0;
  for (k = 1; k <= extra; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    *cp = *cp << 6 | (s[k] & 0x3F);
  }
  if (*cp < least || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return extra + 1;
}

/* Characters printed as they are go out in runs, one write for each stretch between two that are
 * not: a report of megabytes is not a million calls. */
static void printData(FILE* stream, const char* text, size_t length, int quoted) {
  const unsigned char* s = (const unsigned char*)text;
  size_t i = 0, run = 0; /* s[run, i): printed as it is, not yet written */
  while (i < length) {
    unsigned long cp = 0;
    size_t n = decodeUtf8(s + i, length - i, &cp);
    int quote = quoted && n == 1 && (cp == '"' || cp == '\\');
    int control = n == 0 || (cp < 0x20 && cp != '\t') || cp == 0x7F;
    int marked = (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x2028 && cp <= 0x202E) ||
                 (cp >= 0x2066 && cp <= 0x2069);
    if (!quote && !control && !marked && (n == 1 || terminalUtf8)) {
      i += n;
      continue;
    }
    if (i > run) fwrite(s + run, 1, i - run, stream);
    if (quote) {
      fputc('\\', stream);
      fputc((int)cp, stream);
    } else if (control) {
      fprintf(stream, "\\x%02X", s[i]);
      n = 1;
    } else if (marked) {
      fprintf(stream, "<U+%04lX>", cp);
    } else {
      char out[8], *in = (char*)text + i, *to = out;
      size_t inLeft = n, outLeft = sizeof out;
      if (toTerminal != (iconv_t)-1 && iconv(toTerminal, &in, &inLeft, &to, &outLeft) != (size_t)-1)
        fwrite(out, 1, (size_t)(to - out), stream);
      else
        fputc('?', stream);
    }
    i += n;
    run = i;
  }
  if (i > run) fwrite(s + run, 1, i - run, stream);
}

static void printDataText(FILE* stream, const char* text) {
  if (text) printData(stream, text, strlen(text), 0);
}

/* The start of a message about an input: its file or folder name (from the command line or the
 * trust folder's listing) as data, in quotes, then ": ". A name may hold any byte but NUL and '/';
 * the quote keeps a name that begins "Werdykt:" from reading as the verdict. */
static void printNameLabel(FILE* stream, const char* name) {
  fputc('"', stream);
  printData(stream, name, strlen(name), 1);
  fputs("\": ", stream);
}

/* Prints a Windows-1250 text of the library: to UTF-8 (a byte the page leaves undefined stays
 * as it is, and is shown escaped), then as data. */
static void printLibraryText(FILE* stream, const char* text) {
  iconv_t cd;
  char* utf8;
  char *in, *out;
  size_t inLeft, outLeft;
  if (!text) return;
  inLeft = strlen(text);
  cd = iconv_open("UTF-8", "CP1250");
  utf8 = malloc(3 * inLeft + 1);
  if (cd == (iconv_t)-1 || !utf8) {
    printData(stream, text, inLeft, 0);
  } else {
    in = (char*)text, out = utf8, outLeft = 3 * inLeft;
    while (inLeft > 0)
      if (iconv(cd, &in, &inLeft, &out, &outLeft) == (size_t)-1) {
        *out++ = *in++;
        --inLeft, --outLeft;
      }
    printData(stream, utf8, (size_t)(out - utf8), 0);
  }
  free(utf8);
  if (cd != (iconv_t)-1) iconv_close(cd);
}

/* The library's report, asked for in UTF-8 (see main), each line indented: none of its lines,
 * whatever a name in it holds, reads as this program's verdict. */
static void printReport(const char* report) {
  while (report && *report) {
    const char* end = strchr(report, '\n');
    size_t length = end ? (size_t)(end - report) : strlen(report);
    size_t shown = length > 0 && report[length - 1] == '\r' ? length - 1 : length;
    fputs("  ", stdout);
    printData(stdout, report, shown, 0);
    fputc('\n', stdout);
    report += end ? length + 1 : length;
  }
}

static void failed(talCtx* ctx, const char* call, int32_t code) {
  fprintf(stderr, "%s: %d ", call, (int)code);
  printLibraryText(stderr, talErrorText(ctx, code));
  fputc('\n', stderr);
}

static int hasCertExtension(const char* name) {
  const char* dot = strrchr(name, '.');
  return dot && (!strcasecmp(dot, ".crt") || !strcasecmp(dot, ".pem") || !strcasecmp(dot, ".der") ||
                 !strcasecmp(dot, ".cer"));
}

static int byName(const void* a, const void* b) {
  return strcmp(*(char* const*)a, *(char* const*)b);
}

/* Installs the folder's certificates, in name order: roots through talInstallRoot, the others
 * through talInstallMemCrt. Returns the number of roots, or -1 when the folder cannot be read. */
static int installFolder(talCtx* ctx, const char* folder) {
  DIR* dir = opendir(folder);
  struct dirent* entry;
  char** names = NULL;
  size_t count = 0, capacity = 0, i;
  int roots = 0;
  if (!dir) return -1;
  while ((entry = readdir(dir)) != NULL) {
    if (!hasCertExtension(entry->d_name)) continue;
    if (count == capacity) {
      char** grown;
      capacity = capacity ? capacity * 2 : 16;
      grown = realloc(names, capacity * sizeof *names);
      if (!grown) break;
      names = grown;
    }
    names[count] = malloc(strlen(folder) + strlen(entry->d_name) + 2);
    if (!names[count]) break;
    sprintf(names[count], "%s/%s", folder, entry->d_name);
    ++count;
  }
  closedir(dir);
  if (count) qsort(names, count, sizeof *names, byName);
  for (i = 0; i < count; ++i) {
    talCert* cert = NULL;
    int32_t code, isRoot = 0;
    if ((code = talAllocateCertFromFile(names[i], &cert)) > 10) {
      printNameLabel(stderr, names[i]);
      failed(ctx, "talAllocateCertFromFile", code);
    } else if ((code = talIsCAAutoCert(cert, &isRoot)) > 10) {
      failed(ctx, "talIsCAAutoCert", code);
    } else if (isRoot) {
      /* For this session: settings it could not write must not cost the verifier its roots. */
      if ((code = talInstallRoot(ctx, cert, TAL_ROOT_SESSION, 1)) > 10)
        failed(ctx, "talInstallRoot", code);
      else
        ++roots;
    } else {
      uint8_t* der = NULL;
      int32_t length = 0, installed = 0;
      if ((code = talGetCrtMem(cert, &der, &length)) > 10) {
        failed(ctx, "talGetCrtMem", code);
      } else {
        if ((code = talInstallMemCrt(ctx, der, length, 1, &installed)) > 10)
          failed(ctx, "talInstallMemCrt", code);
        talDeleteBuffer(der, length);
      }
    }
    if (cert) talDeleteCertificate(cert);
    free(names[i]);
  }
  free(names);
  return roots;
}

/* Whether the library's own parse takes the saved object as XML, under its caps (attributes and
 * namespace declarations per element, declarations in scope, depth, size, memory). libxml2's
 * reader has none of them: one start tag of 150,000 attributes, 1.5 MB of a stranger's text
 * object, keeps it busy for over a minute. tvXmlUnprotect parses its document before anything
 * else (89 when it refuses it); given an expression that selects nodes but no element (the xml
 * namespace node every element has) it stops right after, verifying nothing, with 139. Any other
 * answer leaves the object unread. The tree goes before the reader starts. */
static int libraryParses(talCtx* ctx, const char* object) {
  static const char NO_ELEMENT[] = "xpointer(/*/namespace::xml)";
  tvXmlCtx* xml = NULL;
  tvXmlDoc* doc = NULL;
  talMsgInfo* message = NULL;
  int parses = 0;
  if (tvXmlCreateCtx(&xml) > 10) return 0;
  if (tvXmlLoadDocFile(xml, object, NULL, &doc) <= 10)
    parses = tvXmlUnprotect(ctx, xml, doc, NO_ELEMENT, &message) == ETAL_XML_EMPTY_TRANSFORM;
  if (message) tvXmlDeleteMsgInfo(message); /* never: it selects nothing */
  tvXmlDeleteCtx(xml);
  return parses;
}

/* The receipt fields from a saved object: the text of the first element of each name, namespace
 * aside, read as a stream once the library's parse has taken it. The number of fields found, or
 * -1 when the object is not XML (the library's parse refused it). */
static int readFields(talCtx* ctx, const char* object, xmlChar* values[FIELD_COUNT]) {
  xmlTextReaderPtr reader;
  int found = 0, status;
  if (!libraryParses(ctx, object)) return -1;
  reader = xmlReaderForFile(object, NULL, XML_PARSE_NONET);
  if (!reader) return -1;
  while ((status = xmlTextReaderRead(reader)) == 1) {
    const xmlChar* name;
    size_t i;
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) continue;
    name = xmlTextReaderConstLocalName(reader);
    for (i = 0; name && i < FIELD_COUNT; ++i)
      if (!values[i] && !strcmp((const char*)name, FIELDS[i])) {
        values[i] = xmlTextReaderReadString(reader);
        if (!values[i]) values[i] = xmlStrdup(BAD_CAST "");
        ++found;
        break;
      }
  }
  xmlFreeTextReader(reader);
  if (status < 0) { /* not well-formed: nothing of it counts */
    size_t i;
    for (i = 0; i < FIELD_COUNT; ++i) {
      xmlFree(values[i]);
      values[i] = NULL;
    }
    return -1;
  }
  return found;
}

/* The message goes, and with it the XML context it owns and the receipt's tree. */
static void releaseMessage(tvXmlCtx** xmlHeld, talMsgInfo** messageHeld) {
  if (*messageHeld) tvXmlDeleteMsgInfo(*messageHeld);
  *messageHeld = NULL;
  *xmlHeld = NULL;
}

/* The digests of the objects read so far, so that an object two references name (or two
 * references give alike) is read once: read again, it would give what it gave. Open addressing,
 * at most half full, grown as objects are read (never sized by a count the receipt announces), so
 * a look-up costs the same whatever their number; SHA-256, so that no crafted object passes for
 * another. */
typedef struct {
  unsigned char (*slots)[32];
  unsigned char* used;
  size_t room, filled;
} Seen;

static size_t slotOf(const Seen* seen, const uint8_t digest[32]) {
  size_t at = ((size_t)digest[0] | (size_t)digest[1] << 8 | (size_t)digest[2] << 16 |
               (size_t)digest[3] << 24) & (seen->room - 1);
  while (seen->used[at] && memcmp(seen->slots[at], digest, 32)) at = (at + 1) & (seen->room - 1);
  return at;
}

/* Twice the room (16 slots the first time); 0 when memory runs out, the table as it was. */
static int growSeen(Seen* seen) {
  Seen bigger;
  size_t i;
  if (seen->room > ((size_t)-1 >> 1) / sizeof *seen->slots) return 0;
  bigger.room = seen->room ? 2 * seen->room : 16;
  bigger.filled = seen->filled;
  bigger.slots = malloc(bigger.room * sizeof *bigger.slots);
  bigger.used = calloc(bigger.room, 1);
  if (!bigger.slots || !bigger.used) {
    free(bigger.slots);
    free(bigger.used);
    return 0;
  }
  for (i = 0; i < seen->room; ++i)
    if (seen->used[i]) {
      size_t at = slotOf(&bigger, seen->slots[i]);
      memcpy(bigger.slots[at], seen->slots[i], 32);
      bigger.used[at] = 1;
    }
  free(seen->slots);
  free(seen->used);
  *seen = bigger;
  return 1;
}

/* 1 when the digest was there; else it is added (when memory allows) and 0. */
static int seenBefore(Seen* seen, const uint8_t digest[32]) {
  size_t at;
  if (seen->room && seen->used[slotOf(seen, digest)]) return 1;
  if (2 * (seen->filled + 1) > seen->room && !growSeen(seen)) return 0;
  at = slotOf(seen, digest);
  memcpy(seen->slots[at], digest, 32);
  seen->used[at] = 1;
  ++seen->filled;
  return 0;
}

/* The library's answers to a file it cannot create or write: this machine's fault (a full or
 * unwritable temporary folder), never the receipt's. */
static int localWriteFailure(int32_t code) {
  return code == ETAL_OP_OUTFILE || code == ETAL_WR_OUTFILE || code == ETAL_OP_TMPFILE ||
         code == ETAL_WR_TMPFILE;
}

/* Saves the signed objects one by one, in the temporary folder ($TMPDIR, else /tmp), and reads
 * the fields of the first that holds any; an object saved before (by its digest) is not read
 * again. Once the last is saved the message goes (see releaseMessage), so that the receipt's tree
 * and the object's never live together for a receipt of one object. 1 found, 0 no object holds
 * them (*anyXml tells whether one was XML), -1 no object could be saved (*code is the library's
 * answer), -2 the temporary folder cannot be written (the message on stderr). */
static int fieldsOfObjects(talCtx* ctx, tvXmlCtx** xmlHeld, talMsgInfo** messageHeld,
                           talSigInfo* signature, int32_t count, xmlChar* values[FIELD_COUNT],
                           int* anyXml, int32_t* code) {
  static const char PATTERN[] = "/verify_upo-XXXXXX", FILE_NAME[] = "/upo.xml";
  const char* base = getenv("TMPDIR");
  char *folder, *object;
  Seen seen = {NULL, NULL, 0, 0};
  int32_t k;
  int saved = 0, found = 0;
  *anyXml = 0;
  *code = 0;
  if (!base || !*base) base = "/tmp";
  folder = malloc(strlen(base) + sizeof PATTERN);
  object = malloc(strlen(base) + sizeof PATTERN + sizeof FILE_NAME);
  if (!folder || !object) {
    free(folder);
    free(object);
    failed(NULL, "malloc", ETAL_MEM);
    return -2;
  }
  sprintf(folder, "%s%s", base, PATTERN);
  if (!mkdtemp(folder)) {
    printNameLabel(stderr, base);
    fprintf(stderr, "the temporary folder cannot be written: %s\n", strerror(errno));
    free(folder);
    free(object);
    return -2;
  }
  sprintf(object, "%s%s", folder, FILE_NAME);
  for (k = 0; k < count && !found; ++k) {
    int n;
    uint8_t digest[32];
    if ((*code = tvXmlSaveObjFile(*xmlHeld, signature, k, object)) > 10) {
      if (!localWriteFailure(*code)) continue;
      printNameLabel(stderr, folder);
      failed(NULL, "tvXmlSaveObjFile", *code);
      saved = 0, found = -2;
      break;
    }
    ++saved;
    if (k == count - 1) releaseMessage(xmlHeld, messageHeld); /* the signature goes too */
    /* Unread when it cannot be told from one read before; read when its digest is not known. */
    if (talHashFile(object, TAL_HASH_SHA256, digest, sizeof digest) <= 10 &&
        seenBefore(&seen, digest)) {
      unlink(object);
      continue;
    }
    n = readFields(ctx, object, values);
    unlink(object);
    if (n >= 0) *anyXml = 1;
    found = n > 0;
  }
  rmdir(folder);
  free(folder);
  free(object);
  free(seen.slots);
  free(seen.used);
  return found == -2 ? -2 : saved ? found : -1;
}

/* A library result code and its text, for a verdict line. */
static void printCode(talCtx* ctx, int32_t code) {
  printf("kod %d: ", (int)code);
  printLibraryText(stdout, talErrorText(ctx, code));
}

/* The digest as the receipt writes it: trimmed, without the brackets the comparison adds. */
static size_t trimDigest(const char* text, const char** start) {
  const char* end = text + strlen(text);
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n' || *text == '[') ++text;
  while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' ||
                        end[-1] == '\n' || end[-1] == ']'))
    --end;
  *start = text;
  return (size_t)(end - text);
}

/* Hashes the declaration with the algorithm the receipt digest's length implies and compares
 * "[" + upper-case hex + "]" with the receipt's digest, case-blind. 1 equal, 0 not, -1 error. */
static int declarationMatches(const char* declaration, const char* receiptDigest) {
  static const struct { size_t hexLength; int32_t hash; } BY_LENGTH[] = {
      {40, TAL_HASH_SHA1}, {56, TAL_HASH_SHA224}, {64, TAL_HASH_SHA256},
      {96, TAL_HASH_SHA384}, {128, TAL_HASH_SHA512}};
  uint8_t digest[64];
  char ours[2 * sizeof digest + 3], theirs[2 * sizeof digest + 3];
  const char* start;
  size_t length = trimDigest(receiptDigest, &start), i;
  int32_t hash = 0, code;
  struct stat info;
  for (i = 0; i < sizeof BY_LENGTH / sizeof BY_LENGTH[0]; ++i)
    if (BY_LENGTH[i].hexLength == length) hash = BY_LENGTH[i].hash;
  /* An empty declaration is a missing one, not a declaration whose digest differs. */
  if (stat(declaration, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
    printNameLabel(stderr, declaration);
    fputs("plik jest pusty\n", stderr);
    return -1;
  }
  if (!hash) {
    printf("SkrotDokumentu ma %lu znakow: nie wiadomo, jaka funkcja skrotu go dala.\n",
           (unsigned long)length);
    return 0;
  }
  if ((code = talHashFile(declaration, hash, digest, (int32_t)(length / 2))) > 10) {
    printNameLabel(stderr, declaration);
    failed(NULL, "talHashFile", code);
    return -1;
  }
  ours[0] = '[';
  for (i = 0; i < length / 2; ++i) sprintf(ours + 1 + 2 * i, "%02X", digest[i]);
  strcpy(ours + 1 + length, "]");
  sprintf(theirs, "[%.*s]", (int)length, start);
  printf("Skrot deklaracji: %s\n", ours);
  return strcasecmp(ours, theirs) == 0;
}

/* The signature's results, the saved objects' fields and the digest comparison. The status is
 * judged first: a signature that did not verify is rejected with the library's status and reason,
 * whatever its objects hold. Each object passes the library's parse (its tree freed at once) before
 * a stream reader reads its fields; the message, and with it the XML context it owns and the
 * receipt's tree, goes before the last object is parsed, or once the fields are found. */
static int judge(talCtx* ctx, tvXmlCtx** xmlHeld, talMsgInfo** messageHeld,
                 const char* declaration) {
  tvXmlCtx* xml = *xmlHeld;
  const talMsgInfo* message = *messageHeld;
  talSigInfo* signature = NULL;
  int32_t count = 0, msgStatus = 0, status = 0, qualification = 0, reason = 0, code;
  int32_t stamps = 0, counters = 0, objects = 0, saveCode = 0;
  xmlChar* values[FIELD_COUNT] = {0};
  size_t i;
  int verified, matches = 0, found = 0, anyXml = 0;

  if ((code = talGetMessageSignatureCount(message, &count)) > 10 || count != 1) {
    printf("Werdykt: UPO odrzucone: ma %d podpisow, wymagany jest dokladnie jeden.\n", (int)count);
    return EXIT_REJECTED;
  }
  if ((code = talGetMessageSignature(message, 0, &signature)) > 10 ||
      (code = talMsgStatus(message, &msgStatus)) > 10 ||
      (code = talSignatureStatus(signature, &status, &qualification, &reason)) > 10) {
    printf("Werdykt: UPO odrzucone: nie mozna odczytac wyniku weryfikacji podpisu (");
    printCode(NULL, code);
    printf(").\n");
    return EXIT_REJECTED;
  }
  talGetSignatureTimeStampCount(signature, &stamps);
  talGetCounterSignatureCount(signature, &counters);
  verified = msgStatus == 4 && status == 4;

  /* The fields are shown whatever the status; they decide only for a verified signature. */
  if ((code = tvXmlGetObjCount(xml, signature, &objects)) > 10) objects = 0;
  if (objects > 0)
    found = fieldsOfObjects(ctx, xmlHeld, messageHeld, signature, objects, values, &anyXml,
                            &saveCode);
  releaseMessage(xmlHeld, messageHeld);

  if (found > 0) {
    printf("\n");
    for (i = 0; i < FIELD_COUNT; ++i) {
      printf("%s: ", FIELDS[i]);
      printDataText(stdout, values[i] ? (const char*)values[i] : "(brak)");
      putchar('\n');
    }
  }
  printf("Status podpisu: %d ", (int)status);
  printLibraryText(stdout, signatureStatusText(status));
  printf("\nPowod: %d ", (int)reason);
  printLibraryText(stdout, reason ? talReasonText(reason) : "-");
  printf("\nZnaczniki czasu: %d, kontrasygnaty: %d\n", (int)stamps, (int)counters);

  if (found > 0 && values[DIGEST_FIELD])
    matches = declarationMatches(declaration, (const char*)values[DIGEST_FIELD]);
  for (i = 0; i < FIELD_COUNT; ++i) xmlFree(values[i]);
  if (!verified) {
    if (status == 4) status = msgStatus; /* the message's status is what failed */
    printf("Werdykt: UPO odrzucone: podpis nie zostal zweryfikowany poprawnie (status %d ",
           (int)status);
    printLibraryText(stdout, signatureStatusText(status));
    printf(", powod %d ", (int)reason);
    printLibraryText(stdout, reason ? talReasonText(reason) : "-");
    printf(").\n");
    return EXIT_REJECTED;
  }
  /* Only now: a signature that did not verify is rejected whatever the declaration or the
   * temporary folder. */
  if (matches < 0 || found == -2) return EXIT_NOT_RUN;
  if (objects < 1) {
    printf("Werdykt: UPO odrzucone: podpis nie obejmuje obiektu z potwierdzeniem.\n");
    return EXIT_REJECTED;
  }
  if (found < 0) {
    printf("Werdykt: UPO odrzucone: podpisanego obiektu nie mozna odczytac (");
    printCode(NULL, saveCode);
    printf(").\n");
    return EXIT_REJECTED;
  }
  if (!found) {
    printf(anyXml ? "Werdykt: UPO odrzucone: podpisany obiekt nie zawiera potwierdzenia.\n"
                  : "Werdykt: UPO odrzucone: podpisany obiekt nie jest dokumentem XML.\n");
    return EXIT_REJECTED;
  }
  if (!matches) {
    printf("Werdykt: UPO odrzucone: skrot deklaracji nie zgadza sie z SkrotDokumentu.\n");
    return EXIT_REJECTED;
  }
  printf("Werdykt: UPO poprawne, deklaracja zgodna z SkrotDokumentu.\n");
  return EXIT_VERIFIED;
}

/* The session of one verification: profile, context, certificates, options, then the receipt. */
static int verify(const char* receipt, const char* declaration, const char* trust, int offline) {
  static const char NAME[] = "UpoVerifierProfile", DATABASE[] = "w pamieci";
  /* Options 12, 27 and 23 off, as a receipt verifier sets them. */
  static const int32_t OFF[] = {12, 27, 23};
  talProfile* profile;
  talCtx* ctx = NULL;
  tvXmlCtx* xml = NULL;
  tvXmlDoc* doc = NULL;
  talMsgInfo* message = NULL;
  int32_t code, one = 1;
  int result = EXIT_NOT_RUN, roots;
  size_t i;

  talNetCacheSetTimeout(10);
  profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) {
    failed(NULL, "talCreateProfile", ETAL_MEM);
    return EXIT_NOT_RUN;
  }
  if ((code = talSetProfileAttr(profile, TAL_ATTR_NAME, NAME, (int32_t)sizeof NAME)) > 10 ||
      (code = talSetProfileAttr(profile, TAL_ATTR_DATABASE, DATABASE, (int32_t)sizeof DATABASE)) > 10) {
    failed(NULL, "talSetProfileAttr", code);
    talDeleteProfile(profile);
    return EXIT_NOT_RUN;
  }
  if ((code = talInitEx(&ctx, profile)) > 10) { /* the call took the profile */
    failed(NULL, "talInitEx", code);
    return EXIT_NOT_RUN;
  }
  roots = installFolder(ctx, trust);
  if (roots <= 0) {
    printNameLabel(stderr, trust);
    fprintf(stderr, "%s\n",
            roots < 0 ? "the folder cannot be read" : "no trusted root certificate in it");
    talDeinit(ctx);
    return EXIT_NOT_RUN;
  }
  for (i = 0; i < sizeof OFF / sizeof OFF[0]; ++i)
    if ((code = talSetOption(ctx, OFF[i], 0)) > 10) failed(ctx, "talSetOption", code);
  if (offline && (code = talSetOption(ctx, TAL_OPTION_OFFLINE, 1)) > 10) failed(ctx, "talSetOption", code);
  if ((code = talAuthenticateEx(ctx, 0)) > 10) {
    failed(ctx, "talAuthenticateEx", code);
    talDeinit(ctx);
    return EXIT_NOT_RUN;
  }

  if ((code = tvXmlCreateCtx(&xml)) > 10) {
    failed(ctx, "tvXmlCreateCtx", code);
  } else if ((code = tvXmlSetOption(xml, 4, &one, (int32_t)sizeof one)) > 10) {
    failed(ctx, "tvXmlSetOption", code);
  } else if ((code = tvXmlLoadDocFile(xml, receipt, NULL, &doc)) > 10) {
    printNameLabel(stderr, receipt);
    failed(ctx, "tvXmlLoadDocFile", code);
  } else {
    code = tvXmlUnprotect(ctx, xml, doc, NULL, &message);
    printReport(talReportText(ctx));
    if (code > 10) {
      failed(ctx, "tvXmlUnprotect", code);
      printf("Werdykt: UPO odrzucone: weryfikacja podpisu nie mogla zostac przeprowadzona (");
      printCode(ctx, code);
      printf(").\n");
      result = EXIT_REJECTED;
    } else {
      result = judge(ctx, &xml, &message, declaration);
    }
  }
  if (message)
    tvXmlDeleteMsgInfo(message); /* and the XML context it owns */
  else if (xml)
    tvXmlDeleteCtx(xml);
  if ((code = talDeinit(ctx)) > 10) failed(NULL, "talDeinit", code);
  return result;
}

int main(int argc, char** argv) {
  int offline = argc > 1 && !strcmp(argv[1], "--offline");
  int result;
  if (argc != 4 + offline) {
    fprintf(stderr, "usage: %s [--offline] RECEIPT.xml DECLARATION TRUST-FOLDER\n", argv[0]);
    return EXIT_NOT_RUN;
  }
  setlocale(LC_CTYPE, "");
  openTerminal();
  /* The report in UTF-8, whatever the environment chose: its code points are then known here,
   * to be escaped and put into the terminal's character set. Read at the first talInitEx. */
  setenv("PL_STANDARD", "UTF8", 1);
  LIBXML_TEST_VERSION
  result = verify(argv[1 + offline], argv[2 + offline], argv[3 + offline], offline);
  xmlCleanupParser();
  if (toTerminal != (iconv_t)-1) iconv_close(toTerminal);
  return result;
}
