// BMP files: headers, palettes, bit fields, run-length data, short files.
#include "fuzz_picture.h"

PEL_FUZZ_TARGET(QByteArrayView("BM"))
