// JPEG through libjpeg directly: the scaled IDCT gives a reduced picture for a
// fraction of the full decode, and for a small progressive preview the DC scans
// alone already hold the eighth-size picture. The file is streamed, never held whole.
// Colours: an embedded ICC profile (APP2 chunks) or EXIF's Adobe RGB; CMYK pictures
// keep their inks through the reduction, for the colour module to convert.
#include "picture/colour_sources.h"
#include "picture/decode_cache.h"
#include "picture/decoders.h"
#include "picture/picture.h"
#include "picture/scale.h"

#include <QList>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace pel::picture::detail {
namespace {

// A hostile file can make libjpeg work for minutes or allocate gigabytes with a few
// kilobytes: thousands of scans, each one re-reading every block of a large picture
// (with "end of band" runs or no data at all), or a progressive picture whose
// coefficients are all kept. These bound the work and the memory of one decode.
constexpr int kMaxScans = 500;  // as libjpeg-turbo's own tools suggest
// Blocks read over all scans: a progressive encoder reads each block ten or twenty
// times; past 24 times (and 32 million, a fraction of a second) it is an attack.
constexpr qint64 kBlockReadsPerBlock = 24;
constexpr qint64 kMinBlockReads = qint64(32) << 20, kMaxBlockReads = qint64(150) << 20;
constexpr int kMaxWarnings = 1000;                  // corrupt-data warnings before giving up
constexpr qint64 kMaxWorkingBytes = qint64(640) << 20;  // libjpeg's own memory (coefficients)

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int warnings = 0;
};

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Ends the decode with our own message.
[[noreturn]] void fail(j_common_ptr cinfo, const char *why)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", why);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end) are not fatal and must not reach stderr; a
// flood of them means the file is not a damaged picture but garbage.
extern "C" void onJpegMessage(j_common_ptr) {}
extern "C" void onJpegEmit(j_common_ptr cinfo, int level)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (level < 0 && ++err->warnings > kMaxWarnings)
        fail(cinfo, "too many corrupt-data warnings");
}

// Counts the scans and the blocks they read, called by libjpeg while it absorbs input.
struct ScanWatch {
    jpeg_progress_mgr pub;
    int scan = 0;
    qint64 blocks = 0;  // read so far
    qint64 limit = 0;   // set at the first scan
};

void checkScans(j_decompress_ptr cinfo)
{
    auto *watch = reinterpret_cast<ScanWatch *>(cinfo->progress);
    if (!watch || cinfo->input_scan_number == watch->scan)
        return;
    watch->scan = cinfo->input_scan_number;
    if (watch->limit == 0) {
        qint64 blocks = 0;
        for (int c = 0; c < cinfo->num_components; ++c)
            blocks += qint64(cinfo->comp_info[c].width_in_blocks) * qint64(cinfo->comp_info[c].height_in_blocks);
        watch->limit = std::clamp(blocks * kBlockReadsPerBlock, kMinBlockReads, kMaxBlockReads);
    }
    for (int c = 0; c < cinfo->comps_in_scan; ++c) {
        const jpeg_component_info *comp = cinfo->cur_comp_info[c];
        watch->blocks += qint64(comp->width_in_blocks) * qint64(comp->height_in_blocks);
    }
    if (watch->scan > kMaxScans)
        fail(reinterpret_cast<j_common_ptr>(cinfo), "too many scans");
    if (watch->blocks > watch->limit)
        fail(reinterpret_cast<j_common_ptr>(cinfo), "scans too many for the picture's size");
}

extern "C" void onJpegProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor)
        checkScans(reinterpret_cast<j_decompress_ptr>(cinfo));
}

// Reads the file in large blocks: libjpeg-turbo takes its fast Huffman path only while
// a few kilobytes are buffered, so a 4 KB source spends a quarter of its time on the
// slow one. Only the bytes the file had when it was opened are read: a file that
// shrinks meanwhile, or cannot be read, ends the decode with an error rather than
// with a picture made up of what is not there.
struct FileSource {
    jpeg_source_mgr pub;
    int fd = -1;
    qint64 pos = 0;  // the next byte to read
    qint64 end = 0;  // the file's size when it was opened
    std::vector<JOCTET> buffer;
};

extern "C" void sourceInit(j_decompress_ptr) {}
extern "C" void sourceTerm(j_decompress_ptr) {}

extern "C" boolean sourceFill(j_decompress_ptr cinfo)
{
    auto *src = reinterpret_cast<FileSource *>(cinfo->src);
    const qint64 want = std::min<qint64>(qint64(src->buffer.size()), src->end - src->pos);
    qint64 n = want > 0 ? readAt(src->fd, src->buffer.data(), std::size_t(want), src->pos) : 0;
    if (n < 0)
        fail(reinterpret_cast<j_common_ptr>(cinfo), "the file cannot be read");
    if (n < want)
        fail(reinterpret_cast<j_common_ptr>(cinfo), "the file shrank while it was read");
    src->pos += n;
    if (n == 0) {
        // A file cut short ends as if it were complete; libjpeg fills in what is missing.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xff;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer.data();
    src->pub.bytes_in_buffer = std::size_t(n);
    return TRUE;
}

extern "C" void sourceSkip(j_decompress_ptr cinfo, long count)
{
    auto *src = reinterpret_cast<FileSource *>(cinfo->src);
    if (count <= 0)
        return;
    if (std::size_t(count) <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= std::size_t(count);
        return;
    }
    // Large segments (thumbnails, profiles) are stepped over without being read.
    const qint64 rest = qint64(count) - qint64(src->pub.bytes_in_buffer);
    src->pub.bytes_in_buffer = 0;
    src->pos = std::min(src->end, src->pos + rest);
}

// Owns the decompressor; reads a descriptor its caller owns. Everything that lives
// across a libjpeg call is kept here, outside the frame that calls setjmp, so a
// longjmp skips no destructor.
struct Session {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    ScanWatch watch;
    FileSource source;
    FileStamp stamp;
    // The ICC chunks of the APP2 segments, one after another, and where each lies in it.
    QByteArray iccChunks;
    std::vector<std::pair<qsizetype, qsizetype>> iccChunkSpans;

    Session()
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&err.pub, 0, sizeof err.pub);
        std::memset(&watch.pub, 0, sizeof watch.pub);
        std::memset(&source.pub, 0, sizeof source.pub);
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = onJpegError;
        err.pub.output_message = onJpegMessage;
        err.pub.emit_message = onJpegEmit;
        jpeg_create_decompress(&cinfo);
        cinfo.client_data = this;
        watch.pub.progress_monitor = onJpegProgress;
        cinfo.progress = &watch.pub;
        limitMemory(0);
    }
    ~Session() { jpeg_destroy_decompress(&cinfo); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // libjpeg's working memory, within the decoder's budget once the decoded picture
    // (`output` bytes) is counted: a file that needs more fails cleanly, before its
    // coefficient arrays are allocated.
    void limitMemory(qint64 output)
    {
        const qint64 room = std::min(kMaxWorkingBytes, maxDecodedBytes() - output);
        cinfo.mem->max_memory_to_use = long(std::max<qint64>(room, qint64(1) << 20));
    }

    // Reads the file `fd`, as `fileStamp` describes it, from its start.
    void attach(int fd, const FileStamp &fileStamp)
    {
        stamp = fileStamp;
        source.fd = fd;
        source.end = stamp.size;
        source.buffer.resize(std::size_t(256) << 10);
        source.pub.init_source = sourceInit;
        source.pub.fill_input_buffer = sourceFill;
        source.pub.skip_input_data = sourceSkip;
        source.pub.resync_to_restart = jpeg_resync_to_restart;
        source.pub.term_source = sourceTerm;
        cinfo.src = &source.pub;
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xffff);
    }
    // Keeps the ICC profile's chunks as the header is read (see readApp2).
    void keepProfile();
    QString message() const
    {
        // libjpeg says it when a file needs more memory than we let it have.
        if (err.pub.msg_code == JERR_NO_BACKING_STORE)
            return QStringLiteral("JPEG: the picture needs more memory than the decoder allows");
        return QStringLiteral("JPEG: ") + QString::fromLatin1(err.message);
    }
};

// Reads `count` bytes of the segment being read into `out`, or steps over them when
// `out` is null. The source never suspends: it fills its buffer or ends the decode.
void segmentBytes(j_decompress_ptr cinfo, JOCTET *out, std::size_t count)
{
    jpeg_source_mgr *src = cinfo->src;
    if (!out && count > src->bytes_in_buffer) {
        src->skip_input_data(cinfo, long(count));
        return;
    }
    while (count > 0) {
        if (src->bytes_in_buffer == 0)
            src->fill_input_buffer(cinfo);
        const std::size_t take = std::min(count, src->bytes_in_buffer);
        if (out) {
            std::memcpy(out, src->next_input_byte, take);
            out += take;
        }
        src->next_input_byte += take;
        src->bytes_in_buffer -= take;
        count -= take;
    }
}

// An ICC profile's chunk: the tag, then its number and the count (1 to 255 of them).
constexpr char kIccTag[] = "ICC_PROFILE";
constexpr std::size_t kIccHead = sizeof kIccTag + 2;
// What is kept of APP2 over a whole file: one profile as large as the colour module
// takes, and the heads of its chunks. Beyond that the segments are stepped over
// unread, so a file made of APP2 segments costs no memory.
constexpr qsizetype kMaxIccKept = colour::kMaxProfileBytes + 255 * qsizetype(kIccHead);

// libjpeg's processor of APP2 segments. Called while libjpeg reads, so a failing read
// jumps over it: nothing here owns memory (the chunks are kept in the Session).
extern "C" boolean readApp2(j_decompress_ptr cinfo)
{
    auto *session = static_cast<Session *>(cinfo->client_data);
    JOCTET head[kIccHead];
    segmentBytes(cinfo, head, 2);
    const std::size_t length = std::size_t(head[0]) << 8 | head[1];
    std::size_t rest = length >= 2 ? length - 2 : 0;
    const std::size_t peek = std::min(rest, kIccHead);
    segmentBytes(cinfo, head, peek);
    rest -= peek;
    const bool icc = peek == kIccHead && std::memcmp(head, kIccTag, sizeof kIccTag) == 0;
    const qsizetype at = session->iccChunks.size();
    if (icc && session->iccChunkSpans.size() < 255 && at + qsizetype(length) <= kMaxIccKept) {
        session->iccChunks.resize(at + qsizetype(peek + rest));
        auto *into = reinterpret_cast<JOCTET *>(session->iccChunks.data() + at);
        std::memcpy(into, head, peek);
        segmentBytes(cinfo, into + peek, rest);
        session->iccChunkSpans.emplace_back(at, qsizetype(peek + rest));
    } else {
        segmentBytes(cinfo, nullptr, rest);
    }
    return TRUE;
}

void Session::keepProfile()
{
    iccChunkSpans.reserve(255);  // never grown while libjpeg calls readApp2
    jpeg_set_marker_processor(&cinfo, JPEG_APP0 + 2, readApp2);
}

// The segment's payload of the first EXIF APP1 (empty when none).
QByteArrayView exifSegment(const jpeg_decompress_struct &cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return QByteArrayView(reinterpret_cast<const char *>(m->data), qsizetype(m->data_length));
    }
    return {};
}

// What the header says of the colours, read after the header and before any scan.
void readColours(const Session &s, colour::SourceProfile *source, colour::Pixels *pixels)
{
    QList<QByteArrayView> chunks;
    for (const auto &[at, length] : s.iccChunkSpans)
        chunks.append(QByteArrayView(s.iccChunks).sliced(at, length));
    *source = colour::jpegSource(chunks, exifSegment(s.cinfo));
    switch (s.cinfo.jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
        // Adobe's writers store the inks inverted, and say so with their APP14 marker.
        *pixels = s.cinfo.saw_Adobe_marker ? colour::Pixels::AdobeCmyk : colour::Pixels::Cmyk;
        break;
    case JCS_GRAYSCALE: *pixels = colour::Pixels::Gray; break;
    default: *pixels = colour::Pixels::Rgb; break;
    }
}

int orientationOf(const jpeg_decompress_struct &cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data + 6, m->data_length - 6);
    }
    return 1;
}

bool readHeader(Session &s)
{
    if (setjmp(s.err.jump))
        return false;
    jpeg_read_header(&s.cinfo, TRUE);
    return true;
}

// Everything a decode holds across libjpeg calls. libjpeg reports errors by a longjmp
// back to runDecode(), which skips every destructor between: so runDecode() and the
// functions it calls keep only trivially destructible locals (numbers, sizes, plain
// pointers), and all that owns memory lives here, in the caller's object.
struct Decode {
    Session session;
    QSize target;  // upright; empty: natural size
    int orientation = 1;
    bool settled = false;   // the file may be kept decoded (FileStamp::settledAt)
    DecodeKey key;          // which kept decode this one is, or may become
    bool keep = false;      // and it is to be kept
    QImage out;    // as decoded by libjpeg, unless reduced while it was read
    std::optional<BoxReducer> reducer;
    std::vector<quint32> row;
};
static_assert(std::is_trivially_destructible_v<QSize>, "QSize is kept in runDecode's frames");

// Ink bytes in a format whose scaling averages all four bytes and leaves them as they are.
constexpr QImage::Format kInkFormat = QImage::Format_ARGB32_Premultiplied;

// --- Called between setjmp and longjmp: no local may own anything (see Decode). ---

// Picks the smallest scaled decode that is still no smaller than the target and
// returns the target in stored orientation.
QSize chooseScale(Decode &d)
{
    jpeg_decompress_struct &cinfo = d.session.cinfo;
    d.orientation = orientationOf(cinfo);
    const QSize natural(int(cinfo.image_width), int(cinfo.image_height));
    // Turning a picture upright holds it twice for a moment.
    if (d.orientation >= 5 && mulSat(decodedBytes(d.target.isEmpty() ? natural : d.target), 2) > maxDecodedBytes())
        fail(reinterpret_cast<j_common_ptr>(&cinfo), "picture is too large to be turned upright");
    const QSize target = d.target.isEmpty() ? natural : (d.orientation >= 5 ? d.target.transposed() : d.target);
    static const int denominators[] = {8, 4, 2, 1};
    for (int denom : denominators) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = unsigned(denom);
        jpeg_calc_output_dimensions(&cinfo);
        if (int(cinfo.output_width) >= target.width() && int(cinfo.output_height) >= target.height())
            break;
    }
    return target;
}

// A decode reduced by the DCT is shared by every later use of the same file at the
// same scale (the preview, the reduced viewer, a slide); it is made with the same
// settings whatever the target, so the file and the scale identify it. True when the
// kept one was taken (into d.out).
bool takeKept(Decode &d)
{
    const jpeg_decompress_struct &cinfo = d.session.cinfo;
    const QSize decodedSize(int(cinfo.output_width), int(cinfo.output_height));
    if (cinfo.scale_denom <= 1)
        return false;
    d.key = DecodeKey{d.session.stamp, int(cinfo.scale_denom)};
    d.out = DecodeCache::shared().find(d.key);
    if (d.out.size() == decodedSize)
        return true;
    d.out = QImage();
    d.keep = d.settled && decodedBytes(decodedSize) <= DecodeCache::kMaxBytes;
    return false;
}

// At an eighth of the size only the DC coefficients count: stops reading once every
// component has them.
void consumeDcScans(jpeg_decompress_struct &cinfo)
{
    for (;;) {
        const int status = jpeg_consume_input(&cinfo);
        checkScans(&cinfo);
        if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED)
            return;
        if (status == JPEG_SCAN_COMPLETED) {
            bool all = true;
            for (int c = 0; c < cinfo.num_components; ++c)
                all = all && cinfo.coef_bits[c][0] >= 0;
            if (all)
                return;
        }
    }
}

// Reads the scan lines into d.out (direct) or through d.reducer. CMYK rows are kept as
// libjpeg gives them, C, M, Y, K bytes, in kInkFormat (all four are averaged).
void readRows(Decode &d, QSize target, bool direct, bool cmyk)
{
    jpeg_decompress_struct &cinfo = d.session.cinfo;
    const int width = int(cinfo.output_width);
    if (direct) {
        d.out = QImage(width, int(cinfo.output_height), cmyk ? kInkFormat : QImage::Format_RGB32);
        if (d.out.isNull())
            ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    } else {
        d.reducer.emplace(QSize(width, int(cinfo.output_height)), target, cmyk);
        if (!d.reducer->valid())
            ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    }
    d.row.resize(std::size_t(width));
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        quint32 *dest = direct ? reinterpret_cast<quint32 *>(d.out.scanLine(y)) : d.row.data();
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(dest)};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            break;
        if (!direct)
            d.reducer->addRow(y, dest);
    }
}

// All libjpeg calls of a decode after the header (readHeader); returns false on a libjpeg error (d.session.message() says which).
bool runDecode(Decode &d)
{
    jpeg_decompress_struct &cinfo = d.session.cinfo;
    if (setjmp(d.session.err.jump))
        return false;
    const QSize target = chooseScale(d);
    if (takeKept(d))
        return true;
    const QSize decodedSize(int(cinfo.output_width), int(cinfo.output_height));
    // When the decode is reduced further, the merged (non-fancy) chroma upsampling is
    // invisible in the result and spares a pass over every row.
    if (!d.keep && decodedSize.width() >= 2 * target.width() && decodedSize.height() >= 2 * target.height())
        cinfo.do_fancy_upsampling = FALSE;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    const bool dcOnly = cinfo.progressive_mode && cinfo.scale_denom == 8;
    if (dcOnly) {
        cinfo.buffered_image = TRUE;
        cinfo.do_block_smoothing = FALSE;
    }
    // Decoded straight into a picture unless it is reduced further while it is read
    // (a decode to be kept is whole, and reduced afterwards).
    const bool direct = d.keep || (binFactor(decodedSize.width(), target.width()) == 1 &&
                                   binFactor(decodedSize.height(), target.height()) == 1);
    d.session.limitMemory(direct ? decodedBytes(decodedSize) : 0);
    jpeg_start_decompress(&cinfo);
    if (dcOnly) {
        consumeDcScans(cinfo);
        jpeg_start_output(&cinfo, cinfo.input_scan_number);
    }
    readRows(d, target, direct, cmyk);
    if (dcOnly)
        jpeg_finish_output(&cinfo);
    // Nothing after the last scan line is needed; trailing data is not even read.
    jpeg_abort_decompress(&cinfo);
    d.keep = d.keep && cinfo.output_scanline == cinfo.output_height;
    return true;
}

// --- End of what runs between setjmp and longjmp. ---

// The decode at libjpeg's scale, box-reduced to no less than `target` (stored
// orientation) where whole bins fit; the final smooth pass follows.
QImage reduced(const QImage &decoded, QSize target, bool inks)
{
    BoxReducer box(decoded.size(), target, inks);
    if (!box.reduces())
        return decoded;
    if (!box.valid())
        return {};
    for (int y = 0; y < decoded.height(); ++y)
        box.addRow(y, reinterpret_cast<const quint32 *>(decoded.constScanLine(y)));
    return box.result();
}

// Mirrors are done in place; a quarter turn needs a second copy while it is made.
QImage oriented(QImage img, int orientation)
{
    QImage turned;
    switch (orientation) {
    case 2: img.mirror(true, false); return img;
    case 3: img.mirror(true, true); return img;
    case 4: img.mirror(false, true); return img;
    case 5:
    case 6:
    case 7: turned = img.transformed(QTransform().rotate(90)); break;
    case 8: turned = img.transformed(QTransform().rotate(270)); break;
    default: return img;
    }
    img = QImage();
    if (orientation == 5)
        turned.mirror(true, false);
    else if (orientation == 7)
        turned.mirror(false, true);
    return turned;
}

}  // namespace

int exifOrientation(const uchar *t, std::size_t size)
{
    if (size < 8)
        return 1;
    const bool le = t[0] == 'I' && t[1] == 'I';
    if (!le && !(t[0] == 'M' && t[1] == 'M'))
        return 1;
    auto rd16 = [&](std::size_t at) -> quint32 {
        return le ? qFromLittleEndian<quint16>(t + at) : qFromBigEndian<quint16>(t + at);
    };
    auto rd32 = [&](std::size_t at) -> quint32 {
        return le ? qFromLittleEndian<quint32>(t + at) : qFromBigEndian<quint32>(t + at);
    };
    if (rd16(2) != 42)
        return 1;
    const std::size_t ifd = rd32(4);
    if (ifd > size - 2)
        return 1;
    const std::size_t count = rd16(ifd);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (e + 12 > size)
            break;
        if (rd16(e) != 0x0112)
            continue;
        const quint32 type = rd16(e + 2);
        const quint32 v = type == 3 ? rd16(e + 8) : type == 4 ? rd32(e + 8) : 0;
        return v >= 1 && v <= 8 ? int(v) : 1;
    }
    return 1;
}

bool readJpegHeader(int fd, const FileStamp &stamp, JpegHeader *out, QString *error)
{
    Session s;
    s.attach(fd, stamp);
    if (!readHeader(s)) {
        setError(error, s.message());
        return false;
    }
    if (s.cinfo.image_width == 0 || s.cinfo.image_height == 0 || s.cinfo.data_precision != 8) {
        setError(error, QStringLiteral("JPEG size or precision not supported"));
        return false;
    }
    out->stored = QSize(int(s.cinfo.image_width), int(s.cinfo.image_height));
    out->orientation = orientationOf(s.cinfo);
    out->progressive = s.cinfo.progressive_mode;
    return true;
}

Decoded decodeJpeg(int fd, const FileStamp &stamp, bool settled, QSize target, QString *error)
{
    auto d = std::make_unique<Decode>();
    d->session.attach(fd, stamp);
    d->session.keepProfile();
    d->settled = settled;
    d->target = target;
    Decoded result;
    // The colours are read between libjpeg's calls, never in a frame a failure jumps over.
    const bool header = readHeader(d->session);
    if (header)
        readColours(d->session, &result.source, &result.pixels);
    if (!header || !runDecode(*d)) {
        setError(error, d->session.message());
        return {};
    }
    const bool inks = result.pixels == colour::Pixels::Cmyk || result.pixels == colour::Pixels::AdobeCmyk;
    // Kept only when the file is still the version its key names.
    if (d->keep && stamp.isCurrent(fd))
        DecodeCache::shared().keep(d->key, d->out);
    QImage img = d->reducer ? d->reducer->result() : d->out;
    const int orientation = d->orientation;
    d.reset();  // free libjpeg's memory before the final copies
    if (!target.isEmpty() && !img.isNull())
        img = reduced(img, orientation >= 5 ? target.transposed() : target, inks);
    if (img.isNull()) {
        setError(error, QStringLiteral("not enough memory for the picture"));
        return {};
    }
    img = oriented(std::move(img), orientation);
    result.image = target.isEmpty() ? img : scaledTo(img, target);
    return result;
}

}  // namespace pel::picture::detail
