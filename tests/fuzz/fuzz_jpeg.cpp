// JPEG files: markers, EXIF orientation, baseline and progressive scans.
#include "fuzz_picture.h"

PEL_FUZZ_TARGET(QByteArrayView("\xff\xd8\xff"))
