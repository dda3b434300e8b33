#include "system/file_listing.h"

#include "system/fsname.h"
#include "system/os.h"
#include "picture/file.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <utility>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <ctime>
#include <vector>

namespace pel {

// ---------------------------------------------------------------------------
// FilePattern

namespace {

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

bool isAscii(QStringView s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

std::string lowerAscii(QStringView s)
{
    std::string out;
    out.reserve(size_t(s.size()));
    for (QChar c : s)
        out.push_back(asciiLower(char(c.unicode())));
    return out;
}

// Case-insensitive equality of an ASCII name part and a lower-cased ASCII pattern part.
bool equalsLower(std::string_view name, std::string_view lower)
{
    if (name.size() != lower.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (asciiLower(name[i]) != lower[i])
            return false;
    return true;
}

inline QChar nameChar(QStringView name, qsizetype i) { return name[i]; }
inline QChar nameChar(std::string_view name, qsizetype i) { return QChar(uchar(name[size_t(i)])); }

// '*' and '?' only: brackets are ordinary characters in the pattern language the
// users of this program know. Iterative matcher with one backtrack point, linear
// for the usual patterns.
template <typename Name>
bool globMatch(QStringView glob, Name name)
{
    const qsizetype size = qsizetype(name.size());
    qsizetype g = 0, n = 0, starG = -1, starN = 0;
    while (n < size) {
        if (g < glob.size() && glob[g] == u'*') {
            starG = g++;
            starN = n;
        } else if (g < glob.size()
                   && (glob[g] == u'?' || glob[g].toCaseFolded() == nameChar(name, n).toCaseFolded())) {
            ++g;
            ++n;
        } else if (starG >= 0) {
            g = starG + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == u'*')
        ++g;
    return g == glob.size();
}

}  // namespace

FilePattern::FilePattern(const QString &pattern) : m_text(pattern)
{
    const QStringList globs = pattern.split(u';', Qt::SkipEmptyParts);
    for (QString glob : globs) {
        glob = glob.trimmed();
        if (glob.isEmpty())
            continue;
        // "*.*" means every file, also those without a dot, as users expect.
        if (glob == u"*.*")
            glob = QStringLiteral("*");
        const qsizetype stars = glob.count(u'*');
        if (glob.contains(u'?') || stars > 1) {
            m_globs.append(glob);
        } else if (stars == 1) {
            const qsizetype at = glob.indexOf(u'*');
            addPart(glob.left(at), glob.mid(at + 1), true, QString());
        } else {
            addPart(QString(), QString(), false, glob);
        }
    }
    // No pattern at all lists everything, like a file list that was never given one.
    if (m_parts.empty() && m_globs.isEmpty())
        addPart(QString(), QString(), true, QString());
}

void FilePattern::addPart(const QString &prefix, const QString &suffix, bool wildcard, const QString &exact)
{
    Part p;
    p.prefix = prefix;
    p.suffix = suffix;
    p.wildcard = wildcard;
    p.exact = exact;
    // An ASCII name meets an ASCII part exactly where it meets it letter by letter
    // in ASCII case; a part with other characters (the Kelvin sign folds to "k")
    // is left to the full comparison.
    p.ascii = isAscii(prefix) && isAscii(suffix) && isAscii(exact);
    if (p.ascii) {
        p.lowerPrefix = lowerAscii(prefix);
        p.lowerSuffix = lowerAscii(suffix);
        p.lowerExact = lowerAscii(exact);
    }
    m_parts.push_back(std::move(p));
}

bool FilePattern::matches(QStringView name) const
{
    for (const Part &p : m_parts) {
        if (!p.wildcard) {
            if (name.compare(p.exact, Qt::CaseInsensitive) == 0)
                return true;
        } else if (name.size() >= p.prefix.size() + p.suffix.size()
                   && name.endsWith(p.suffix, Qt::CaseInsensitive)
                   && name.startsWith(p.prefix, Qt::CaseInsensitive)) {
            return true;
        }
    }
    for (const QString &g : m_globs) {
        if (globMatch(g, name))
            return true;
    }
    return false;
}

bool FilePattern::matchesAscii(std::string_view name) const
{
    if (name.empty())
        return matches(QStringView());   // Qt's own view of an empty name
    for (const Part &p : m_parts) {
        if (!p.ascii) {
            if (matches(QString::fromLatin1(name.data(), qsizetype(name.size()))))
                return true;
        } else if (!p.wildcard) {
            if (equalsLower(name, p.lowerExact))
                return true;
        } else if (name.size() >= p.lowerPrefix.size() + p.lowerSuffix.size()
                   && equalsLower(name.substr(name.size() - p.lowerSuffix.size()), p.lowerSuffix)
                   && equalsLower(name.substr(0, p.lowerPrefix.size()), p.lowerPrefix)) {
            return true;
        }
    }
    for (const QString &g : m_globs) {
        if (globMatch(g, name))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Natural order

namespace {

// Non-digit runs are compared by Japanese collation keys. The collator has no
// numeric mode: digit runs are compared by us, which works whatever the process
// locale and for runs of any length.
const QCollator &japaneseCollator()
{
    thread_local const QCollator collator = [] {
        QCollator c(QLocale(QLocale::Japanese, QLocale::Japan));
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(false);
        return c;
    }();
    return collator;
}

inline int digitOf(QChar c) { return c.unicode() < 128 ? c.unicode() - '0' : c.digitValue(); }
inline bool isDigitChar(QChar c)
{
    return c.unicode() < 128 ? (c.unicode() >= '0' && c.unicode() <= '9') : c.isDigit();
}

// Each name is cut into runs of digits and runs of everything else, and turned
// into one byte string that compares with memcmp as the runs compare:
//   number: its count of digits (leading zeros dropped) in one byte 0x01-0x7E,
//           or 0x7F and four bytes big-endian beyond that; then the digit values,
//           two to a byte;
//   text:   the rank of the run among the distinct runs in collation order, with
//           the top bit set, in two bytes (four when a folder has more than 32768
//           distinct runs).
// Numbers come before words, as the collation puts digits before letters; a name
// that ends where another goes on comes first. Distinct runs are few (a folder of
// "IMG_0001.JPG" has two), so the collator is asked once per run, never per
// comparison. The first eight bytes of a key, as one integer, settle almost every
// comparison: "IMG_0001.JPG" takes seven.
class NaturalKeys {
public:
    explicit NaturalKeys(const QStringList &names) : m_names(names)
    {
        const Runs runs = cutIntoRuns(names);
        writeKeys(names, runs, collationRanks(runs.texts));
    }

    // The first eight bytes of the key of name `i`, zero-padded. Padding never
    // equals a real byte at that place: a run starts with a byte of 1 or more.
    quint64 prefix(int i) const { return m_prefix[size_t(i)]; }

    // For names whose prefixes are equal.
    bool lessAfterPrefix(int a, int b) const
    {
        const size_t la = m_offsets[a + 1] - m_offsets[a], lb = m_offsets[b + 1] - m_offsets[b];
        if (la > 8 || lb > 8) {
            const size_t common = std::min(la, lb);
            if (common > 8) {
                const int c = std::memcmp(m_bytes.data() + m_offsets[a] + 8, m_bytes.data() + m_offsets[b] + 8,
                                          common - 8);
                if (c != 0)
                    return c < 0;
            }
            if (la != lb)
                return la < lb;
        }
        return tieBreak(m_names[a], m_names[b]) < 0;
    }

    bool less(int a, int b) const
    {
        const quint64 pa = prefix(a), pb = prefix(b);
        return pa != pb ? pa < pb : lessAfterPrefix(a, b);
    }

private:
    struct Run {
        qsizetype at;     // first significant digit, or the text's id
        qsizetype digits; // -1 for text
    };
    struct Runs {
        std::vector<Run> runs;
        std::vector<size_t> firstRun;   // each name's first run, and one past the last
        std::vector<QStringView> texts; // the distinct text runs, by id
    };

    static Runs cutIntoRuns(const QStringList &names)
    {
        const qsizetype count = names.size();
        Runs out;
        std::vector<Run> &runs = out.runs;
        runs.reserve(size_t(count) * 3);
        std::vector<size_t> &firstRun = out.firstRun;
        firstRun.resize(size_t(count) + 1);
        QHash<QStringView, int> textIds;
        std::vector<QStringView> &texts = out.texts;
        // The previous name's text runs: in a folder of photos the next name
        // almost always has the same ones, which spares the hash.
        std::vector<std::pair<QStringView, int>> previous, current;
        for (qsizetype n = 0; n < count; ++n) {
            firstRun[size_t(n)] = runs.size();
            const QString &string = names.at(n);
            const QChar *name = string.constData();
            const qsizetype len = string.size();
            current.clear();
            qsizetype i = 0;
            while (i < len) {
                const qsizetype start = i;
                if (isDigitChar(name[i])) {
                    while (i + 1 < len && digitOf(name[i]) == 0 && isDigitChar(name[i + 1]))
                        ++i;
                    const qsizetype sig = i;
                    while (i < len && isDigitChar(name[i]))
                        ++i;
                    runs.push_back({sig, i - sig});
                } else {
                    while (i < len && !isDigitChar(name[i]))
                        ++i;
                    const QStringView run(name + start, i - start);
                    const size_t k = current.size();
                    int id;
                    if (k < previous.size() && previous[k].first.size() == run.size()
                        && std::memcmp(previous[k].first.data(), run.data(), size_t(run.size()) * sizeof(QChar)) == 0) {
                        id = previous[k].second;
                    } else {
                        auto it = textIds.constFind(run);
                        if (it == textIds.constEnd()) {
                            it = textIds.insert(run, int(texts.size()));
                            texts.push_back(run);
                        }
                        id = it.value();
                    }
                    current.emplace_back(run, id);
                    runs.push_back({id, -1});
                }
            }
            std::swap(previous, current);
        }
        firstRun[size_t(count)] = runs.size();
        return out;
    }

    void writeKeys(const QStringList &names, const Runs &all, const std::vector<quint32> &ranks)
    {
        const qsizetype count = names.size();
        const std::vector<Run> &runs = all.runs;
        const std::vector<size_t> &firstRun = all.firstRun;
        const int rankBytes = all.texts.size() <= 0x8000 ? 2 : 4;
        m_offsets.reserve(size_t(count) + 1);
        m_prefix.reserve(size_t(count));
        m_bytes.reserve(size_t(count) * 10 + 8);
        for (qsizetype n = 0; n < count; ++n) {
            const size_t keyStart = m_bytes.size();
            m_offsets.push_back(keyStart);
            const QChar *name = names.at(n).constData();
            for (size_t r = firstRun[size_t(n)]; r < firstRun[size_t(n) + 1]; ++r) {
                const Run &run = runs[r];
                if (run.digits < 0) {
                    const quint32 code = ranks[size_t(run.at)] | (rankBytes == 2 ? 0x8000u : 0x80000000u);
                    for (int k = rankBytes - 1; k >= 0; --k)
                        m_bytes.push_back(char(code >> (8 * k)));
                    continue;
                }
                if (run.digits < 0x7F) {
                    m_bytes.push_back(char(run.digits));
                } else {
                    m_bytes.push_back(char(0x7F));
                    for (int k = 3; k >= 0; --k)
                        m_bytes.push_back(char(quint32(run.digits) >> (8 * k)));
                }
                for (qsizetype d = 0; d < run.digits; d += 2) {
                    const int high = digitOf(name[run.at + d]);
                    const int low = d + 1 < run.digits ? digitOf(name[run.at + d + 1]) : 0;
                    m_bytes.push_back(char((high << 4) | low));
                }
            }
            uchar head[8] = {};
            std::memcpy(head, m_bytes.data() + keyStart, std::min<size_t>(8, m_bytes.size() - keyStart));
            quint64 prefix = 0;
            for (uchar b : head)
                prefix = (prefix << 8) | b;
            m_prefix.push_back(prefix);
        }
        m_offsets.push_back(m_bytes.size());
    }

    // Distinct runs sorted once by their collation keys; runs the collation
    // holds equal ("IMG" and "img") share a rank.
    static std::vector<quint32> collationRanks(const std::vector<QStringView> &texts)
    {
        if (texts.empty())
            return {};
        const QCollator &collator = japaneseCollator();
        std::vector<QCollatorSortKey> keys;
        keys.reserve(texts.size());
        for (QStringView t : texts)
            keys.push_back(collator.sortKey(t.toString()));
        std::vector<int> order(texts.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](int x, int y) { return keys[x].compare(keys[y]) < 0; });
        std::vector<quint32> ranks(texts.size());
        quint32 rank = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0)
                ++rank;
            ranks[order[i]] = rank;
        }
        return ranks;
    }

    static std::vector<int> leadingZeros(const QString &s)
    {
        std::vector<int> zeros;
        for (qsizetype i = 0; i < s.size();) {
            if (!isDigitChar(s[i])) {
                ++i;
                continue;
            }
            int z = 0;
            for (; i + 1 < s.size() && digitOf(s[i]) == 0 && isDigitChar(s[i + 1]); ++i)
                ++z;
            while (i < s.size() && isDigitChar(s[i]))
                ++i;
            zeros.push_back(z);
        }
        return zeros;
    }

    // Names equal in the natural order ("img01" and "img1", "IMG1" and "img1")
    // still need one fixed order, or the list would shuffle between scans: fewer
    // leading zeros first, then by code points.
    static int tieBreak(const QString &a, const QString &b)
    {
        const std::vector<int> za = leadingZeros(a), zb = leadingZeros(b);
        if (za != zb)
            return za < zb ? -1 : 1;
        return a.compare(b);
    }

    const QStringList &m_names;
    std::vector<char> m_bytes;
    std::vector<size_t> m_offsets;
    std::vector<quint64> m_prefix;
};

struct SortItem {
    quint64 prefix;
    int index;
};

// A stable sort by the prefixes alone: least significant digit first, eleven
// bits at a time, skipping the digits all prefixes share (in a folder of photos
// most of them). Linear in the count of names.
void radixSortByPrefix(std::vector<SortItem> &items)
{
    if (items.size() < 2)
        return;
    std::vector<SortItem> spare(items.size());
    std::vector<size_t> count(2048);
    for (int shift = 0; shift < 64; shift += 11) {
        std::fill(count.begin(), count.end(), 0);
        for (const SortItem &item : items)
            ++count[(item.prefix >> shift) & 2047];
        if (count[(items.front().prefix >> shift) & 2047] == items.size())
            continue;
        size_t at = 0;
        for (size_t &c : count)
            at += std::exchange(c, at);
        for (const SortItem &item : items)
            spare[count[(item.prefix >> shift) & 2047]++] = item;
        items.swap(spare);
    }
}

// Sorts `names` (and `ids` with them, when given) and keeps the first `capacity`
// of them; returns how many were dropped.
int sortAndCap(QStringList &names, int capacity, std::vector<FileId> *ids = nullptr)
{
    if (capacity < 0)
        capacity = 0;
    const int n = int(names.size());
    std::vector<SortItem> order;
    {
        const NaturalKeys keys(names);
        order.reserve(size_t(n));
        for (int i = 0; i < n; ++i)
            order.push_back({keys.prefix(i), i});
        radixSortByPrefix(order);
        // Names whose prefixes are equal are put in order by the rest of the key.
        for (size_t first = 0; first < order.size();) {
            size_t last = first + 1;
            while (last < order.size() && order[last].prefix == order[first].prefix)
                ++last;
            if (last - first > 1)
                std::sort(order.begin() + qsizetype(first), order.begin() + qsizetype(last),
                          [&keys](const SortItem &a, const SortItem &b) { return keys.lessAfterPrefix(a.index, b.index); });
            first = last;
        }
    }
    if (order.size() > size_t(capacity))
        order.resize(size_t(capacity));
    QStringList sorted(qsizetype(order.size()));
    QString *to = sorted.data();
    QString *from = names.data();
    for (const SortItem &item : order)
        (to++)->swap(from[item.index]);
    names = std::move(sorted);
    if (ids) {
        std::vector<FileId> sortedIds;
        sortedIds.reserve(order.size());
        for (const SortItem &item : order)
            sortedIds.push_back((*ids)[size_t(item.index)]);
        *ids = std::move(sortedIds);
    }
    return n - int(order.size());
}

}  // namespace

void naturalSort(QStringList &names)
{
    sortAndCap(names, int(names.size()));
}

bool naturalLess(const QString &a, const QString &b)
{
    const QStringList pair{a, b};
    return NaturalKeys(pair).less(0, 1);
}

// ---------------------------------------------------------------------------
// Folder scans

// One reading of a folder's entries, the names as the file system gives them
// (bytes back to back), decoded only for the names that are listed.
struct FolderReading {
    struct Entry {
        quint32 at;
        quint32 size;
        unsigned char type;   // d_type
        bool ascii;
        ino_t ino;   // d_ino: what the file operations compare the entry with
    };
    QString folder;
    UniqueFd fd;   // the folder read, for looking at its entries
    FileStamp stamp;   // the folder as it was read
    QElapsedTimer age;
    std::vector<char> names;   // each followed by a NUL
    std::vector<Entry> entries;

    std::string_view raw(const Entry &e) const { return {names.data() + e.at, e.size}; }
    // Names are UTF-8 on Linux; the common all-ASCII name takes the fast conversion.
    QString name(const Entry &e) const
    {
        return e.ascii ? QString::fromLatin1(names.data() + e.at, qsizetype(e.size))
                       : fsname::decode(QByteArray(names.data() + e.at, qsizetype(e.size)));
    }
};

namespace {

enum class Want { Files, Folders };
using Reading = FolderReading;

// A reading made a moment ago by the folder list, for the file list that follows:
// used while it is young and the folder is still the one that was read.
constexpr qint64 kEarlierMs = 1000;

bool stillValid(const FolderReadingPtr &r, const QString &folder, const struct stat &st)
{
    return r && r->folder == folder && r->stamp == FileStamp::fromStat(st, r->stamp.path)
           && !r->age.hasExpired(kEarlierMs);
}

// The folder's entries, or null with errno set.
std::shared_ptr<const Reading> readFolder(const QString &folder, const FolderReadingPtr &earlier)
{
    const QByteArray path = fsname::encode(folder);
    struct stat st;
    if (earlier && os().fstatat(AT_FDCWD, path.constData(), &st, 0) == 0 && stillValid(earlier, folder, st))
        return earlier;
    const int fd = os().open(path.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return nullptr;
    auto reading = std::make_shared<Reading>();
    reading->fd = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    DIR *dir = reading->fd.valid() ? fdopendir(fd) : nullptr;
    if (!dir) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    if (fstat(dirfd(dir), &st) != 0) {
        const int e = errno;
        closedir(dir);
        errno = e;
        return nullptr;
    }
    reading->folder = folder;
    reading->stamp = FileStamp::fromStat(st, path);
    reading->names.reserve(size_t(std::max<qint64>(st.st_size, 4096)));
    while (const dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')  // hidden, and "." and ".."
            continue;
        const unsigned char type = e->d_type;
        if (type != DT_REG && type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN)
            continue;
        const size_t size = std::strlen(e->d_name);
        bool ascii = true;
        for (size_t i = 0; i < size; ++i)
            ascii &= static_cast<unsigned char>(e->d_name[i]) < 0x80;
        reading->entries.push_back({quint32(reading->names.size()), quint32(size), type, ascii, e->d_ino});
        reading->names.insert(reading->names.end(), e->d_name, e->d_name + size + 1);
    }
    closedir(dir);
    reading->age.start();
    return reading;
}

// Whether the entry is of the kind wanted: a regular file or a folder, or a link
// to one. Plain entries are taken from d_type without a look at them (a folder of
// 30000 photos would otherwise cost 30000 stat calls); links, and entries of file
// systems that leave d_type unknown, are looked at through the link. `id` gets
// the entry itself as the folder lists it.
bool isWanted(const Reading &r, const Reading::Entry &e, Want want, FileId *id)
{
    if (id)
        *id = FileId{r.stamp.device, e.ino};
    if (e.type == (want == Want::Files ? DT_REG : DT_DIR))
        return true;
    struct stat st;
    if (os().fstatat(r.fd.get(), r.names.data() + e.at, &st, 0) != 0)
        return false;   // vanished meanwhile, or a dangling link
    return want == Want::Files ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
}

// The entries that may be of the kind wanted, each visited with the reading and a
// check of its kind.
template <typename Visit>
Outcome scan(const QString &folder, Want want, Visit visit, const FolderReadingPtr &earlier = {},
             FolderReadingPtr *made = nullptr)
{
    const std::shared_ptr<const Reading> reading = readFolder(folder, earlier);
    if (!reading)
        return Outcome::failure(Fault::Unreadable, errno);
    const unsigned char plain = want == Want::Files ? DT_REG : DT_DIR;
    for (const Reading::Entry &e : reading->entries) {
        if (e.type != plain && e.type != DT_LNK && e.type != DT_UNKNOWN)
            continue;
        visit(*reading, e, [&](FileId *id) { return isWanted(*reading, e, want, id); });
    }
    if (made)
        *made = reading;
    return {};
}

}  // namespace

Result<ScanResult> scanFolder(const QString &folder, const FilePattern &pattern, int capacity,
                              const FolderReadingPtr &earlier)
{
    ScanResult result;
    QStringList names;
    std::vector<FileId> ids;
    const Outcome read = scan(folder, Want::Files, [&](const Reading &r, const Reading::Entry &e, auto isWantedKind) {
        // The pattern first: it rejects most names without a look at the file, and
        // most without decoding them.
        FileId id;
        if (e.ascii) {
            if (pattern.matchesAscii(r.raw(e)) && isWantedKind(&id)) {
                names.append(r.name(e));
                ids.push_back(id);
            }
        } else {
            QString name = r.name(e);
            if (pattern.matches(name) && isWantedKind(&id)) {
                names.append(std::move(name));
                ids.push_back(id);
            }
        }
    }, earlier);
    if (!read.ok())
        return Result<ScanResult>::failure(read);
    result.skipped = sortAndCap(names, capacity, &ids);
    result.names = std::move(names);
    result.ids = std::move(ids);
    return Result<ScanResult>::of(std::move(result));
}

Result<QStringList> subFolders(const QString &folder, FolderReadingPtr *reading)
{
    QStringList names;
    const Outcome read = scan(folder, Want::Folders, [&](const Reading &r, const Reading::Entry &e, auto isWantedKind) {
        if (isWantedKind(nullptr))
            names.append(r.name(e));
    }, {}, reading);
    if (!read.ok())
        return Result<QStringList>::failure(read);
    naturalSort(names);
    return Result<QStringList>::of(std::move(names));
}

}  // namespace pel
