#include "tests/fuzz/fuzzsupport.h"

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

void fail(const char *what)
{
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

} // namespace Fuzz
