// The FILE line of the exception texts thrown by this folder: the unit's
// path as the library's build names it.
#pragma once

#define LVSYM_FILE_NAME(unit) "lvsym\\" unit ".cpp"
