#pragma once
// The picture files the windows show, opened through the loader.
#include "picture/picture.h"

#include <QString>
#include <memory>

namespace pel {

// Opens the picture file at `path` at the screen's resolution; null when it cannot
// be shown (*error says why, for tests and diagnostics).
std::shared_ptr<const PictureFile> openPicture(const QString &path, QString *error = nullptr);

}  // namespace pel
