#pragma once
// Photo-like test pictures for the benchmarks: smooth shapes under strong grain,
// so they compress (and decode) like camera files, about 3 bits a pixel at quality 90.
#include "picture/file.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <vector>
// jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>

namespace bench {

inline void fillRow(std::vector<uchar> &rgb, int y, int width, int height, std::mt19937 &rng)
{
    auto grain = [&rng] { return int(rng() % 41) - 20; };
    const double fy = double(y) / height;
    for (int x = 0; x < width; ++x) {
        const double fx = double(x) / width;
        const double a = std::sin(fx * 17.0 + std::cos(fy * 9.0) * 3.0);
        const double b = std::cos(fy * 23.0 - fx * 5.0);
        auto clamp = [](double v) { return uchar(std::min(255.0, std::max(0.0, v))); };
        rgb[3 * x + 0] = clamp(128 + 90 * a + grain());
        rgb[3 * x + 1] = clamp(110 + 70 * b * a + grain());
        rgb[3 * x + 2] = clamp(90 + 60 * b + grain());
    }
}

inline bool writePhotoJpeg(const QString &path, int width, int height, bool progressive = false)
{
    std::FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uchar> row(std::size_t(width) * 3);
    std::mt19937 rng(7);
    while (c.next_scanline < c.image_height) {
        fillRow(row, int(c.next_scanline), width, height, rng);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return true;
}

// A decode is only kept for a file whose last change is a few seconds old, as a user's
// photos are: waits until the files of `folder` (written or copied just now) are.
inline void waitUntilSettled(const QString &folder)
{
    qint64 latest = 0;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        struct stat st {};
        if (stat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &st) == 0) {
            for (const timespec &t : {st.st_mtim, st.st_ctim})
                latest = std::max(latest, qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec);
        }
    }
    const qint64 wait = latest + pel::FileStamp::kSettleNs + 100'000'000 - pel::FileStamp::nowNs();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
}

}  // namespace bench
