#pragma once
// One fuzz input through every entry point of the picture loader, as the program
// meets a file: written to a file (in memory) and opened by path, its natural size
// read, then decoded reduced and at its natural size, its colours converted from what
// the file declares (an embedded profile, a BMP's end points, PNG chunks) to a display
// that is not sRGB and to sRGB. Each harness keeps its inputs
// in one format by putting that format's signature in front when it is missing.
#include "picture/colour.h"
#include "picture/picture.h"

#include <QFile>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>

namespace pel::fuzz {

// Natural-size decodes larger than this are left out (the loader's own budget is
// tested elsewhere; here they would only slow the fuzzer down).
constexpr qint64 kMaxNaturalBytes = qint64(4) << 20;

inline void initialise()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static auto *app = new QGuiApplication(argc, argv);  // fonts for metafile text
    (void)app;
    // A wide-gamut display, so that every picture's colours are converted.
    using namespace picture::colour;
    if (!setDisplayProfile(builtinIcc(Builtin::DisplayP3)) || displayIsSrgb())
        abort();
}

// A regular file in memory that the loader opens by its /proc path.
inline const QString &memoryFile(int *fd)
{
    static int descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(descriptor);
    *fd = descriptor;
    return path;
}

// `signatures`: the format's possible first bytes; the first is put in front when none is there.
inline void exercise(QByteArray bytes, std::initializer_list<QByteArrayView> signatures)
{
    bool signed_ = false;
    for (QByteArrayView s : signatures)
        signed_ = signed_ || bytes.startsWith(s);
    if (!signed_)
        bytes.prepend(signatures.begin()->toByteArray());
    int fd = -1;
    const QString &path = memoryFile(&fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size())
        abort();

    QString error;
    const auto picture = PictureFile::open(QFile::encodeName(path), 15.0, &error);
    if (!picture)
        return;
    const QSize natural = picture->pixelSize();
    if (natural.isEmpty() || !(picture->sizeTwips().width() > 0))
        abort();  // a picture that opens has a size
    // The preview box, and a sliver that stretches one way and shrinks the other.
    for (const QSize target : {QSize(267, 200), QSize(1, 150)}) {
        const QImage reduced = picture->render(target, &error, picture::colour::Target::Display);
        if (!reduced.isNull() && reduced.size() != target)
            abort();  // the size asked for, or nothing
    }
    if (qint64(natural.width()) * natural.height() * 4 <= kMaxNaturalBytes) {
        const QImage full = picture->render(QSize(), &error, picture::colour::Target::Srgb);
        if (!full.isNull() && full.size() != natural)
            abort();
    }
    if (picture->isVector()) {  // a bitmap's paint() is its render()
        QImage canvas(120, 90, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        picture->paint(painter, QRectF(10, 10, 100, 70), &error);
    }
}

}  // namespace pel::fuzz

// The libFuzzer entry points of a harness whose inputs start with one of the signatures.
#define PEL_FUZZ_TARGET(...)                                                                    \
    extern "C" int LLVMFuzzerInitialize(int *, char ***)                                        \
    {                                                                                           \
        pel::fuzz::initialise();                                                                \
        return 0;                                                                               \
    }                                                                                           \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)                     \
    {                                                                                           \
        pel::fuzz::exercise(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), \
                            {__VA_ARGS__});                                                     \
        return 0;                                                                               \
    }
