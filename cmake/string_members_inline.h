// Force-included into the product's C++ sources. The runtime declares every
// std::string member as instantiated once in its library, whose one object
// file (about 33 KiB) is linked whole for the first member used. Undeclared,
// each member used is compiled here and section collection drops the rest.
// -1 is the runtime's own switch for strings only (what its assertion mode uses).
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
