#pragma once
// Which file an entry of a listing was: its device and inode when it was read.
#include <sys/stat.h>
#include <sys/types.h>

namespace pel {

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool known() const { return ino != 0; }
    bool operator==(const FileId &) const = default;
    static FileId of(const struct stat &st) { return FileId{st.st_dev, st.st_ino}; }
};

}  // namespace pel
