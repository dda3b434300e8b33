// Opening a picture: the format comes from the first bytes, the natural size from
// the header. Pixels are decoded later, by render(), at the size they are shown at.
#include "picture/picture.h"

#include "picture/decoders.h"
#include "picture/scale.h"
#include "picture/wmf.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace pel {
using namespace picture::detail;

namespace picture {
qint64 maxDecodedBytes()
{
    static const qint64 bound = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        const qint64 ram = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : qint64(2) << 30;
        // A quarter of the memory, so a 100-megapixel photo fits on any usual machine,
        // but no more than 2 GiB: beyond that a header is lying, not describing a photo.
        return std::clamp(ram / 4, qint64(256) << 20, qint64(2) << 30);
    }();
    return bound;
}

namespace detail {

bool withinBudget(QSize size, QString *error)
{
    if (decodedBytes(size) <= maxDecodedBytes())
        return true;
    setError(error, QStringLiteral("picture claims %1 x %2 pixels, more than this machine can hold")
                        .arg(size.width())
                        .arg(size.height()));
    return false;
}

void liftQtAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(int(maxDecodedBytes() >> 20)); });
}

bool pngChunksFit(QIODevice &device, QString *error)
{
    const qint64 size = device.size();
    qint64 at = 8;  // after the signature
    bool fits = true;
    while (at + 8 <= size && device.seek(at)) {
        const QByteArray head = device.read(8);
        if (head.size() < 8)
            break;
        const auto *h = reinterpret_cast<const uchar *>(head.constData());
        const qint64 length = qFromBigEndian<quint32>(h);
        const bool data = std::memcmp(h + 4, "IDAT", 4) == 0;
        if (!data && at + 12 + length > size) {
            fits = false;
            break;
        }
        if (std::memcmp(h + 4, "IEND", 4) == 0)
            break;
        at += 12 + length;
    }
    device.seek(0);
    if (!fits)
        setError(error, QStringLiteral("PNG chunk is longer than the file"));
    return fits;
}

}  // namespace detail
}  // namespace picture

namespace {

// Files we read whole (icons, metafiles) are small; anything bigger is not one of them.
constexpr qint64 kMaxWholeFile = qint64(64) << 20;
// Formats whose readers cannot reduce while they read (GIF, TIFF, WebP) are decoded whole.
constexpr qint64 kMaxWholeDecode = qint64(640) << 20;
// The first bytes: enough for every header we sniff, and for a BMP's headers and palette.
constexpr qint64 kHeadBytes = 8192;

enum class Sniffed { Unknown, Bmp, Jpeg, Ico, Cur, Wmf, Emf, Png, Gif, Tiff, Webp };

Sniffed sniff(const QByteArray &head)
{
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    const auto n = std::size_t(head.size());
    auto starts = [&](const char *magic, std::size_t len, std::size_t at = 0) {
        return n >= at + len && std::memcmp(p + at, magic, len) == 0;
    };
    if (starts("BM", 2))
        return Sniffed::Bmp;
    if (starts("\xff\xd8\xff", 3))
        return Sniffed::Jpeg;
    if (starts("\0\0\1\0", 4))
        return Sniffed::Ico;
    if (starts("\0\0\2\0", 4))
        return Sniffed::Cur;
    if (starts("\xd7\xcd\xc6\x9a", 4))
        return Sniffed::Wmf;  // placeable metafile
    if (n >= 6) {  // a metafile without the placeable header: type, header words, version
        const auto type = qFromLittleEndian<quint16>(p), words = qFromLittleEndian<quint16>(p + 2),
                   version = qFromLittleEndian<quint16>(p + 4);
        if ((type == 1 || type == 2) && words == 9 && (version == 0x100 || version == 0x300))
            return Sniffed::Wmf;
    }
    if (n >= 44 && qFromLittleEndian<quint32>(p) == 1 && starts(" EMF", 4, 40))
        return Sniffed::Emf;
    if (starts("\x89PNG\r\n\x1a\n", 8))
        return Sniffed::Png;
    if (starts("GIF87a", 6) || starts("GIF89a", 6))
        return Sniffed::Gif;
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return Sniffed::Tiff;
    if (starts("RIFF", 4) && starts("WEBP", 4, 8))
        return Sniffed::Webp;
    return Sniffed::Unknown;
}

// Reads the whole of a small file (an icon, a metafile) as `stamp` describes it. A
// file that cannot be read, or that shrinks or changes while it is read, is refused
// rather than read in part.
bool readWhole(int fd, const FileStamp &stamp, qint64 limit, QByteArray *out, QString *error)
{
    if (stamp.size > limit) {
        setError(error, QStringLiteral("file is too large for its kind"));
        return false;
    }
    if (stamp.size <= 0) {
        setError(error, QStringLiteral("file is empty"));
        return false;
    }
    QByteArray bytes(qsizetype(stamp.size), Qt::Uninitialized);
    const qint64 got = readAt(fd, bytes.data(), std::size_t(bytes.size()), 0);
    if (got < 0) {
        setError(error, QStringLiteral("the file cannot be read"));
        return false;
    }
    if (got < stamp.size || !stamp.isCurrent(fd)) {
        setError(error, QStringLiteral("file changed while it was read"));
        return false;
    }
    *out = std::move(bytes);
    return true;
}

// A QFile reading `fd`, which stays its caller's.
bool openQFile(QFile &file, int fd, QString *error)
{
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return true;
    setError(error, QStringLiteral("cannot open the file: %1").arg(file.errorString()));
    return false;
}

// A bitmap is decoded from its file at each render, at the size shown. Only the
// version of the file that was opened is decoded: a file changed since, or while it
// is read, gives no picture (and an error) rather than a picture of something else.
class BitmapPicture : public PictureFile {
public:
    BitmapPicture(FileStamp opened, PictureFormat format, QSize size, double twipsPerPixel)
        : opened_(std::move(opened)), format_(format), size_(size), twipsPerPixel_(twipsPerPixel) {}

    PictureFormat format() const override { return format_; }
    QSize pixelSize() const override { return size_; }
    QSizeF sizeTwips() const override { return QSizeF(size_) * twipsPerPixel_; }

    QImage render(QSize target, QString *error, picture::colour::Target to) const override
    {
        if (target.isEmpty())
            target = size_;
        if (!withinBudget(target, error) || !withinBudget(size_, error))
            return {};
        bool settled = false;
        const UniqueFd fd = reopen(&settled, error);
        if (!fd.valid())
            return {};
        Decoded decoded = decode(fd.get(), settled, target, error);
        QImage &img = decoded.image;
        if (img.isNull())
            return {};
        if (!opened_.isCurrent(fd.get())) {
            setError(error, QStringLiteral("file changed while it was read"));
            return {};
        }
        if (img.size() != target)
            img = scaledTo(img, target);
        // The colours are converted at the size shown, never on a larger decode. A
        // profile that cannot be used makes the picture sRGB (CMYK: the press's).
        using namespace picture::colour;
        if (!apply(img, decoded.source, decoded.pixels, to) && (decoded.pixels == Pixels::Rgb || decoded.pixels == Pixels::Gray))
            apply(img, SourceProfile(), Pixels::Rgb, to);
        if (img.colorSpace().isValid())
            img.setColorSpace(QColorSpace());  // what Qt's reader found no longer describes the pixels
        return std::move(decoded.image);
    }

    bool paint(QPainter &painter, const QRectF &target, QString *error) const override
    {
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QSize pixels = (target.size() * dpr).toSize();
        if (pixels.isEmpty())
            return true;  // nothing to cover
        const QImage img = render(pixels, error, picture::colour::Target::Display);
        if (img.isNull())
            return false;
        painter.drawImage(target, img);
        return true;
    }

protected:
    // Decodes the file `fd` (the version opened) at `target`, or its natural size when
    // the format cannot reduce, with the colours the file declares; `settled` as
    // FileStamp::settledAt says.
    virtual Decoded decode(int fd, bool settled, QSize target, QString *error) const = 0;

    FileStamp opened_;
    PictureFormat format_;
    QSize size_;
    double twipsPerPixel_;

private:
    UniqueFd reopen(bool *settled, QString *error) const
    {
        // The clock is read before the file's stamp (see FileStamp::settledAt).
        const qint64 now = FileStamp::nowNs();
        UniqueFd fd = openRegularFile(opened_.path, error);
        if (!fd.valid())
            return fd;
        if (!opened_.isCurrent(fd.get())) {
            setError(error, QStringLiteral("file changed since it was opened"));
            return UniqueFd();
        }
        *settled = opened_.settledAt(now);
        return fd;
    }
};

class BmpPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    Decoded decode(int fd, bool, QSize target, QString *error) const override
    {
        // The headers and the palette; the pixels are read in bands as they are decoded.
        std::vector<uchar> head(std::size_t(std::min<qint64>(opened_.size, kHeadBytes)));
        const qint64 got = readAt(fd, head.data(), head.size(), 0);
        if (got < qint64(head.size())) {
            setError(error, QStringLiteral("the file cannot be read"));
            return {};
        }
        DibLayout layout;
        if (!parseBmp(head.data(), head.size(), std::size_t(opened_.size), &layout, error))
            return {};
        if (QSize(layout.width, layout.height) != size_) {
            setError(error, QStringLiteral("file changed since it was opened"));
            return {};
        }
        Decoded decoded;
        decoded.image = decodeBmpFile(fd, opened_.size, layout, target, error);
        if (!decoded.image.isNull())
            decoded.source = dibSource(head.data() + 14, head.size() - 14, [&](quint32 offset, quint32 length) {
                return readProfile(fd, 14 + qint64(offset), length);
            });
        return decoded;
    }

private:
    // A V5 header's embedded profile (at most kMaxProfileBytes), where the file holds it.
    QByteArray readProfile(int fd, qint64 at, quint32 length) const
    {
        if (at + qint64(length) > opened_.size)
            return {};
        QByteArray icc(qsizetype(length), Qt::Uninitialized);
        return readAt(fd, icc.data(), std::size_t(length), at) == qint64(length) ? icc : QByteArray();
    }
};

class JpegPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    Decoded decode(int fd, bool settled, QSize target, QString *error) const override
    {
        return decodeJpeg(fd, opened_, settled, target, error);
    }
};

class IcoPicture final : public BitmapPicture {
public:
    using BitmapPicture::BitmapPicture;

protected:
    Decoded decode(int fd, bool, QSize target, QString *error) const override
    {
        QByteArray bytes;
        if (!readWhole(fd, opened_, kMaxWholeFile, &bytes, error))
            return {};
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        IcoEntry entry;
        bool cursor = false;
        if (!parseIco(data, std::size_t(bytes.size()), &entry, &cursor, error))
            return {};
        if (entry.size != size_) {
            setError(error, QStringLiteral("file changed since it was opened"));
            return {};
        }
        return decodeIcoEntry(data, std::size_t(bytes.size()), entry, target, error);
    }
};

// Formats we leave to Qt's readers; BMP, JPEG and ICO never come here, so their
// plugins are never loaded for the common pictures.
class QtPicture final : public BitmapPicture {
public:
    QtPicture(FileStamp opened, PictureFormat format, QSize size, double twipsPerPixel, QByteArray qtFormat)
        : BitmapPicture(std::move(opened), format, size, twipsPerPixel), qtFormat_(std::move(qtFormat)) {}

protected:
    Decoded decode(int fd, bool, QSize target, QString *error) const override
    {
        QFile file;
        if (!openQFile(file, fd, error) || (format_ == PictureFormat::Png && !pngChunksFit(file, error)))
            return {};
        QImageReader reader(&file, qtFormat_);
        // Readers that can reduce while they read (PNG does) then never hold the natural size.
        if (target.width() < size_.width() && target.height() < size_.height())
            reader.setScaledSize(target);
        Decoded decoded;
        decoded.image = reader.read();
        if (decoded.image.isNull()) {
            setError(error, reader.errorString());
            return {};
        }
        // Qt's readers leave the pixels as stored and name their colour space.
        const QColorSpace space = decoded.image.colorSpace();
        if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
            decoded.source = picture::colour::SourceProfile::fromIcc(space.iccProfile());
        decoded.image = scaledTo(decoded.image, target);
        return decoded;
    }

private:
    QByteArray qtFormat_;
};

// A metafile is read whole when it is opened and drawn from memory from then on.
class WmfPicture final : public PictureFile {
public:
    WmfPicture(wmf::Document doc, double twipsPerPixel) : doc_(std::move(doc)), twipsPerPixel_(twipsPerPixel) {}

    PictureFormat format() const override { return PictureFormat::Wmf; }
    QSizeF sizeTwips() const override { return doc_.sizeTwips(); }
    QSize pixelSize() const override
    {
        // A metafile smaller than a pixel still covers one.
        const QSizeF tw = doc_.sizeTwips();
        auto pixels = [this](double twips) { return std::max(1, int(std::nearbyint(twips / twipsPerPixel_))); };
        return QSize(pixels(tw.width()), pixels(tw.height()));
    }
    QImage render(QSize target, QString *error, picture::colour::Target to) const override
    {
        if (target.isEmpty())
            target = pixelSize();
        if (target.isEmpty() || !withinBudget(target, error))
            return {};
        QImage img = doc_.render(target);
        if (img.isNull())
            setError(error, QStringLiteral("metafile cannot be rendered"));
        // A metafile's colours are sRGB: converted only for a display that is not.
        picture::colour::apply(img, picture::colour::SourceProfile(), picture::colour::Pixels::Rgb, to);
        return img;
    }
    bool paint(QPainter &painter, const QRectF &target, QString *) const override
    {
        doc_.paint(painter, target);
        return true;
    }
    QByteArray nativeData() const override { return doc_.bytes(); }

private:
    wmf::Document doc_;
    double twipsPerPixel_;
};

// What open() has of a file when it hands it to the opener of its format.
struct Opening {
    int fd;
    const FileStamp &stamp;
    const QByteArray &head;  // the first kHeadBytes
    double twipsPerPixel;
    QString *error;
};

std::shared_ptr<const PictureFile> openBmp(const Opening &o)
{
    DibLayout l;
    const auto *p = reinterpret_cast<const uchar *>(o.head.constData());
    if (!parseBmp(p, std::size_t(o.head.size()), std::size_t(o.stamp.size), &l, o.error))
        return nullptr;
    const QSize size(l.width, l.height);
    if (!withinBudget(size, o.error) || !dibPlausible(l, o.stamp.size, o.error))
        return nullptr;
    return std::make_shared<BmpPicture>(o.stamp, PictureFormat::Bmp, size, o.twipsPerPixel);
}

std::shared_ptr<const PictureFile> openJpeg(const Opening &o)
{
    JpegHeader h;
    if (!readJpegHeader(o.fd, o.stamp, &h, o.error) || !withinBudget(h.upright(), o.error))
        return nullptr;
    return std::make_shared<JpegPicture>(o.stamp, PictureFormat::Jpeg, h.upright(), o.twipsPerPixel);
}

std::shared_ptr<const PictureFile> openIco(const Opening &o)
{
    QByteArray all;
    if (!readWhole(o.fd, o.stamp, kMaxWholeFile, &all, o.error))
        return nullptr;
    IcoEntry entry;
    bool cursor = false;
    if (!parseIco(reinterpret_cast<const uchar *>(all.constData()), std::size_t(all.size()), &entry, &cursor, o.error) ||
        !withinBudget(entry.size, o.error))
        return nullptr;
    return std::make_shared<IcoPicture>(o.stamp, cursor ? PictureFormat::Cur : PictureFormat::Ico, entry.size,
                                        o.twipsPerPixel);
}

std::shared_ptr<const PictureFile> openWmf(const Opening &o)
{
    QByteArray all;
    if (!readWhole(o.fd, o.stamp, kMaxWholeFile, &all, o.error))
        return nullptr;
    auto doc = wmf::Document::parse(all, o.error);
    if (!doc)
        return nullptr;
    const QSizeF tw = doc->sizeTwips();
    if (!(tw.width() > 0 && tw.height() > 0)) {
        setError(o.error, QStringLiteral("metafile has no size"));
        return nullptr;
    }
    auto pic = std::make_shared<WmfPicture>(std::move(*doc), o.twipsPerPixel);
    if (!withinBudget(pic->pixelSize(), o.error))
        return nullptr;
    return pic;
}

std::shared_ptr<const PictureFile> openWithQt(const Opening &o, PictureFormat format, const char *qtFormat)
{
    liftQtAllocationLimit();
    QFile file;
    if (!openQFile(file, o.fd, o.error) || (format == PictureFormat::Png && !pngChunksFit(file, o.error)))
        return nullptr;
    QImageReader reader(&file, qtFormat);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (size.isEmpty()) {
        setError(o.error, QStringLiteral("cannot read the %1 header: %2").arg(QLatin1String(qtFormat), reader.errorString()));
        return nullptr;
    }
    if (!withinBudget(size, o.error))
        return nullptr;
    // Deflate packs at most 1032 bytes into one: a large PNG in fewer bytes than that is a lie.
    if (format == PictureFormat::Png && decodedBytes(size) > (qint64(64) << 20) &&
        mulSat(o.stamp.size, 1032) < mulSat(size.width(), size.height())) {
        setError(o.error, QStringLiteral("PNG file is far shorter than its header claims"));
        return nullptr;
    }
    // The other readers decode the whole picture even for a preview: one they would
    // hold at more than this is refused rather than let a preview take gigabytes.
    if (format != PictureFormat::Png && decodedBytes(size) > kMaxWholeDecode) {
        setError(o.error, QStringLiteral("picture is too large for its kind"));
        return nullptr;
    }
    return std::make_shared<QtPicture>(o.stamp, format, size, o.twipsPerPixel, QByteArray(qtFormat));
}

}  // namespace

std::shared_ptr<const PictureFile> PictureFile::open(const QByteArray &path, double twipsPerPixel, QString *error)
{
    const UniqueFd fd = openRegularFile(path, error);
    if (!fd.valid())
        return nullptr;
    const auto stamp = FileStamp::of(fd.get(), path);
    QByteArray head(qsizetype(stamp ? std::min(stamp->size, kHeadBytes) : 0), Qt::Uninitialized);
    if (!stamp || head.isEmpty() || readAt(fd.get(), head.data(), std::size_t(head.size()), 0) != head.size()) {
        setError(error, QStringLiteral("file is empty or unreadable"));
        return nullptr;
    }
    const Opening o{fd.get(), *stamp, head, twipsPerPixel, error};
    switch (sniff(head)) {
    case Sniffed::Bmp: return openBmp(o);
    case Sniffed::Jpeg: return openJpeg(o);
    case Sniffed::Ico:
    case Sniffed::Cur: return openIco(o);
    case Sniffed::Wmf: return openWmf(o);
    case Sniffed::Emf:
        setError(error, QStringLiteral("enhanced metafiles (EMF) are not supported"));
        return nullptr;
    case Sniffed::Png: return openWithQt(o, PictureFormat::Png, "png");
    case Sniffed::Gif: return openWithQt(o, PictureFormat::Gif, "gif");
    case Sniffed::Tiff: return openWithQt(o, PictureFormat::Tiff, "tiff");
    case Sniffed::Webp: return openWithQt(o, PictureFormat::Webp, "webp");
    case Sniffed::Unknown: break;
    }
    setError(error, QStringLiteral("not a picture format we read"));
    return nullptr;
}

}  // namespace pel
