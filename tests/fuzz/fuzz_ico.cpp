// ICO and CUR files: the directory, DIB entries with their masks, PNG entries.
#include "fuzz_picture.h"

PEL_FUZZ_TARGET(QByteArrayView("\0\0\1\0", 4), QByteArrayView("\0\0\2\0", 4))
