// Windows metafiles: the placeable header, records, objects, text, bitmaps.
#include "fuzz_picture.h"

// A standard metafile header, or the key of a placeable one.
PEL_FUZZ_TARGET(QByteArrayView("\1\0\11\0\0\3", 6), QByteArrayView("\xd7\xcd\xc6\x9a", 4))
