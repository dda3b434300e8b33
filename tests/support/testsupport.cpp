#include "support/testsupport.h"

#include <QDir>

namespace pel::test {

QString corpusDir()
{
    const QString dir = QStringLiteral(PEL_CORPUS_DIR);
    return QDir(dir).exists() ? QDir(dir).canonicalPath() : QString();
}

QString sourceDir() { return QStringLiteral(PEL_SOURCE_DIR); }

}  // namespace pel::test
