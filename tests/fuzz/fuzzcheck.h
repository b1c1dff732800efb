#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run with a crash file, like any fault the
// sanitizers find.
inline void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
