/* A test aid, preloaded into verify_upo: counts the documents libxml2 parses for it, the
 * receipt and each saved object the program reads (the library's guarded parse starts each with
 * xmlCreatePushParserCtxt, whether it then takes the document or not), and prints the count on
 * stderr as the program exits, so that a test counts the reads, not the time they take. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <libxml/parser.h>

typedef xmlParserCtxtPtr (*CreatePush)(xmlSAXHandlerPtr, void*, const char*, int, const char*);
static int parses;

xmlParserCtxtPtr xmlCreatePushParserCtxt(xmlSAXHandlerPtr sax, void* user, const char* chunk,
                                         int size, const char* filename) {
  static CreatePush next;
  if (!next) {
    void* found = dlsym(RTLD_NEXT, "xmlCreatePushParserCtxt");
    memcpy(&next, &found, sizeof next); /* an object pointer to a function pointer */
  }
  ++parses;
  return next ? next(sax, user, chunk, size, filename) : NULL;
}

__attribute__((destructor)) static void printParses(void) {
  fprintf(stderr, "documents parsed: %d\n", parses);
}
