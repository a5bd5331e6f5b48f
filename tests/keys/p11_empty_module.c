/* A shared object that exports no PKCS#11 function: what a module path pointing at the wrong
   library gives. */
__attribute__((visibility("hidden"))) int tal_not_a_pkcs11_module(void) { return 0; }
