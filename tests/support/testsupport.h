#pragma once
#include <QString>
#include <QtTest>

namespace pel::test {
// The shared picture corpus, or an empty string when it is not there.
QString corpusDir();
// Skips the calling test with a clear message when the corpus is missing.
#define PEL_REQUIRE_CORPUS()                                                     \
    do {                                                                         \
        if (pel::test::corpusDir().isEmpty())                                    \
            QSKIP("picture corpus not found next to the project (../shared/corpus)"); \
    } while (0)
QString sourceDir();
}  // namespace pel::test
