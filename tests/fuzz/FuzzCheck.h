#pragma once

// What every harness shares: an invariant check that stops the run with a readable reason (libFuzzer
// then keeps the input), and small helpers to turn fuzz bytes into the project's types.

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace fuzz {
[[noreturn]] inline void fail(const char* file, int line, const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n%s\n", file, line, what, qPrintable(detail));
    std::abort();
}

inline QByteArray bytes(FuzzedDataProvider& in, std::size_t max)
{
    const std::string s = in.ConsumeRandomLengthString(max);
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

/** Text as a user could type it: the fuzz bytes read as UTF-8 (invalid sequences become U+FFFD). */
inline QString text(FuzzedDataProvider& in, std::size_t max)
{
    return QString::fromUtf8(bytes(in, max));
}
} // namespace fuzz

#define FUZZ_CHECK(cond, detail)                                                                                       \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            fuzz::fail(__FILE__, __LINE__, #cond, (detail));                                                           \
    } while (false)
