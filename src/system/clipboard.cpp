#include "system/clipboard.h"

#include "picture/file.h"
#include "system/fsname.h"
#include "system/os.h"
#include "system/pictures.h"
#include "system/storage.h"
#include "system/twips.h"
#include "system/workers.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pel::clipboard {

namespace {

const QString kPng = QStringLiteral("image/png");
const QString kQtImage = QStringLiteral("application/x-qt-image");

constexpr int kKeepImageMs = 3000;

// The stamp of the open file as the Os reports it; nullopt unless a regular file.
std::optional<FileStamp> regularFileStamp(int fd, const QByteArray &path)
{
    struct stat st;
    if (os().fstatat(fd, "", &st, AT_EMPTY_PATH) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp::fromStat(st, path);
}

QString procPath(int fd) { return fd >= 0 ? QStringLiteral("/proc/self/fd/%1").arg(fd) : QString(); }

// Copies `size` bytes of `from` into `to`, in the kernel where it can.
bool copyAll(int from, int to, off_t size)
{
    off_t offset = 0;
    while (offset < size) {
        const ssize_t n = sendfile(to, from, &offset, size_t(size - offset));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS) && offset == 0)
            break;   // not for this file system: read and write below
        return false;   // a read error, or the file is shorter than it was
    }
    static constexpr size_t kChunk = size_t(1) << 20;
    std::unique_ptr<char[]> buffer;
    while (offset < size) {
        if (!buffer)
            buffer.reset(new char[kChunk]);
        const ssize_t n = pread(from, buffer.get(), std::min<size_t>(kChunk, size_t(size - offset)), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = write(to, buffer.get() + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
        offset += n;
    }
    return true;
}

}  // namespace

struct CopiedFile::State {
    std::mutex mutex;
    std::condition_variable finished;
    bool started = false;
    bool done = false;
    bool ok = false;
    UniqueFd source;   // the file as opened, until its bytes are taken
    int copy = -1;     // the bytes, in memory that belongs to this process
    FileStamp opened;

    ~State()
    {
        if (copy >= 0) {
            // Giving back the pages of a large copy takes milliseconds (15 for a
            // 300 MB picture): not on the thread that is making the next copy.
            workers::run([fd = copy] { ::close(fd); });
        }
    }

    // Takes the bytes, then checks that the file did not change meanwhile. Runs on
    // a worker or on the caller's thread; nothing else touches `source` until done.
    static void takeNow(const std::shared_ptr<State> &s)
    {
        const int memory = memfd_create("pelorinax-copy", MFD_CLOEXEC);
        bool ok = memory >= 0 && copyAll(s->source.get(), memory, s->opened.size);
        ok = ok && regularFileStamp(s->source.get(), s->opened.path) == s->opened;
        {
            const std::lock_guard<std::mutex> lock(s->mutex);
            s->source.reset();
            if (ok) {
                s->copy = memory;
            } else if (memory >= 0) {
                ::close(memory);
            }
            s->ok = ok;
            s->done = true;
        }
        s->finished.notify_all();
    }
};

std::shared_ptr<CopiedFile> CopiedFile::open(const QString &path)
{
    const QByteArray name = fsname::encode(path);
    UniqueFd fd(os().open(name.constData(), O_RDONLY));
    if (!fd.valid())
        return nullptr;
    const std::optional<FileStamp> stamp = regularFileStamp(fd.get(), name);
    if (!stamp)
        return nullptr;
    auto state = std::make_shared<State>();
    state->source = std::move(fd);
    state->opened = *stamp;
    std::shared_ptr<CopiedFile> file(new CopiedFile);
    file->m_state = std::move(state);
    return file;
}

CopiedFile::~CopiedFile() = default;

QString CopiedFile::openedPath() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return procPath(m_state->source.get());
}

bool CopiedFile::take()
{
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->started)
            return !m_state->done || m_state->ok;
        m_state->started = true;
    }
    // A file changed moments ago may change again without its stamp moving (file
    // systems' coarse clocks): its bytes are taken at once, not later on a worker.
    if (m_state->opened.settledAt(FileStamp::nowNs())) {
        workers::run([state = m_state] { State::takeNow(state); });
        return true;
    }
    State::takeNow(m_state);
    return m_state->ok;
}

bool CopiedFile::ready() const
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    if (!m_state->started) {
        m_state->started = true;
        lock.unlock();
        State::takeNow(m_state);
        lock.lock();
    }
    m_state->finished.wait(lock, [this] { return m_state->done; });
    return m_state->ok;
}

QByteArray CopiedFile::bytes() const
{
    if (!ready())
        return {};
    const qint64 size = m_state->opened.size;
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 at = 0; at < size;) {
        const ssize_t n = pread(m_state->copy, out.data() + at, size_t(size - at), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        at += n;
    }
    return out;
}

QString CopiedFile::bytesPath() const { return ready() ? procPath(m_state->copy) : QString(); }

// ---- PictureMimeData ------------------------------------------------------------

PictureMimeData::PictureMimeData(std::shared_ptr<CopiedFile> file, PictureFormat format, QSize naturalSize)
    : m_file(std::move(file)), m_format(format), m_size(naturalSize)
{
    switch (format) {
    case PictureFormat::Jpeg: m_ownFormats = {QStringLiteral("image/jpeg")}; break;
    case PictureFormat::Bmp: m_ownFormats = {QStringLiteral("image/bmp")}; break;
    case PictureFormat::Wmf: m_ownFormats = {QStringLiteral("image/wmf"), QStringLiteral("image/x-wmf")}; break;
    case PictureFormat::Png: m_ownFormats = {kPng}; break;
    default: break;
    }
}

QStringList PictureMimeData::formats() const
{
    QStringList all = m_ownFormats;
    if (!all.contains(kPng))
        all << kPng;
    all << kQtImage;
    return all;
}

QImage PictureMimeData::image() const
{
    if (!m_image.isNull())
        return m_image;
    const QString path = m_file->bytesPath();
    if (path.isEmpty())
        return {};
    const auto picture = openPictureHere(path, twips::perPixel());   // the copied bytes, in memory
    if (!picture || picture->format() != m_format || picture->pixelSize() != m_size)
        return {};
    // In sRGB, whatever the display: the program that pastes it knows nothing of this
    // display's profile. (The file's own bytes keep the profile they carry.)
    m_image = picture->render(m_size, nullptr, picture::colour::Target::Srgb);
    // Kept a moment: one paste often asks twice (the image, then PNG; or a
    // clipboard manager saving format after format), then given back.
    if (!m_image.isNull() && QThread::currentThread() == thread())
        QTimer::singleShot(kKeepImageMs, this, [this] { m_image = QImage(); });
    return m_image;
}

QByteArray PictureMimeData::png() const
{
    if (m_format == PictureFormat::Png)
        return m_file->bytes();
    const QImage img = image();
    if (img.isNull())
        return {};
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // zlib's fastest level: a large photo is written in about a third of the time
    // of the default level, and the PNG comes out no larger.
    writer.setQuality(80);
    if (!writer.write(img))
        return {};
    return out;
}

QVariant PictureMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (m_ownFormats.contains(mimeType)) {
        const QByteArray bytes = m_file->bytes();
        return bytes.isEmpty() ? QVariant() : QVariant(bytes);
    }
    if (mimeType == kPng || (mimeType == kQtImage && type.id() == QMetaType::QByteArray)) {
        const QByteArray bytes = png();
        return bytes.isEmpty() ? QVariant() : QVariant(bytes);
    }
    if (mimeType == kQtImage) {
        const QImage img = image();
        return img.isNull() ? QVariant() : QVariant(img);
    }
    return {};
}

// ---- the clipboard ----------------------------------------------------------------

void clear()
{
    QGuiApplication::clipboard()->clear();
}

Outcome putPictureFile(const QString &path, PictureFormat format, QSize naturalSize)
{
    // The file is opened, checked and its bytes started on a worker: a card or a
    // share that does not answer must not freeze the window.
    const Result<std::shared_ptr<CopiedFile>> taken = storage::run(
        path, storage::Limit::Progress, [path, format, naturalSize, tpp = twips::perPixel()] {
            std::shared_ptr<CopiedFile> file = CopiedFile::open(path);
            if (!file)
                return file;
            // The file must still hold the picture the viewer shows: its header says so.
            const auto picture = openPictureHere(file->openedPath(), tpp);
            if (!picture || picture->format() != format || picture->pixelSize() != naturalSize || !file->take())
                file.reset();
            return file;
        });
    if (!taken.ok())
        return taken.outcome;
    if (!taken.value)
        return Outcome::failure(Fault::Failed);
    clear();
    QGuiApplication::clipboard()->setMimeData(new PictureMimeData(taken.value, format, naturalSize));
    return {};
}

}  // namespace pel::clipboard
