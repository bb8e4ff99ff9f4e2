// Internal invariants. ML_CHECK stays active in every build type (NDEBUG does not remove it):
// a broken invariant stops the process with the condition's text as the message.
#pragma once

#include <cstdio>
#include <cstdlib>

#define ML_CHECK(cond)                                                              \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)
