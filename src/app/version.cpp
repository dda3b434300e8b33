#include "app/version.h"

namespace pel {

QString versionText() { return QStringLiteral("Ver." PEL_VERSION); }

}  // namespace pel
