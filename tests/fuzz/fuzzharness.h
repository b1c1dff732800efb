#pragma once

// The entry point hands each input of up to a mebibyte to the target's
// fuzzOne; CHECK() makes a broken invariant a crash file, like a sanitizer.
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define CHECK(ok) ((ok) ? void() : (std::fprintf(stderr, "broken: %s\n", #ok), std::abort()))

void fuzzOne(const QByteArray &input);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size <= 1 << 20)
        fuzzOne(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    return 0;
}
