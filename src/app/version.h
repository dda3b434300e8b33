#pragma once
#include <QString>

namespace pel {

// The version text ("Ver." and the project's version): what the windows show as
// ver_str and what --version prints.
QString versionText();

}  // namespace pel
