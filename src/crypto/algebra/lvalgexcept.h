// Exception classes that the arithmetic and asymmetric layers throw or catch by base:
// LvLibException, LvCriticalException, LvConversionException (< LvWrongSyntaxException),
// LvInvException (< LvDivByZeroException), LvRevException and LvMessageToLongException.
// They are members of the one LvException family of the basic layer and defined there, so
// that every layer catches the same types; this header is the arithmetic layer's entry to them
// and to the word type.
#ifndef TAL_CRYPTO_ALGEBRA_LVALGEXCEPT_H
#define TAL_CRYPTO_ALGEBRA_LVALGEXCEPT_H

#include "crypto/basic/lvexception.h"
#include "crypto/basic/lvoctmem.h"

#endif
