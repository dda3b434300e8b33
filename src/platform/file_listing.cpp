#include "platform/file_listing.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <ctime>
#include <vector>

namespace pel {

// ---------------------------------------------------------------------------
// FilePattern

namespace {

// '*' and '?' only: brackets are ordinary characters in the pattern language the
// users of this program know. Iterative matcher with one backtrack point, linear
// for the usual patterns.
bool globMatch(QStringView glob, QStringView name)
{
    qsizetype g = 0, n = 0, starG = -1, starN = 0;
    while (n < name.size()) {
        if (g < glob.size() && glob[g] == u'*') {
            starG = g++;
            starN = n;
        } else if (g < glob.size()
                   && (glob[g] == u'?' || glob[g].toCaseFolded() == name[n].toCaseFolded())) {
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
            m_parts.push_back({glob.left(at), glob.mid(at + 1), true, QString()});
        } else {
            m_parts.push_back({QString(), QString(), false, glob});
        }
    }
    // No pattern at all lists everything, like a file list that was never given one.
    if (m_parts.empty() && m_globs.isEmpty())
        m_parts.push_back({QString(), QString(), true, QString()});
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
//   number: 0x01, digit count (4 bytes, big-endian, leading zeros dropped), digit values;
//   text:   0x02, rank of the run among the distinct runs in collation order (4 bytes).
// Numbers come before words, as the collation puts digits before letters; a name
// that ends where another goes on comes first. Distinct runs are few (a folder of
// "IMG_0001.JPG" has two), so the collator is asked once per run, never per comparison.
class NaturalKeys {
public:
    explicit NaturalKeys(const QStringList &names) : m_names(names)
    {
        struct TextRef {
            qsizetype at;  // where its rank goes in m_bytes
            int id;
        };
        std::vector<TextRef> refs;
        QHash<QStringView, int> textIds;
        std::vector<QStringView> texts;
        m_offsets.reserve(names.size() + 1);
        m_bytes.reserve(size_t(names.size()) * 16);
        for (const QString &name : names) {
            m_offsets.push_back(m_bytes.size());
            const qsizetype len = name.size();
            qsizetype i = 0;
            while (i < len) {
                const qsizetype start = i;
                if (isDigitChar(name[i])) {
                    while (i + 1 < len && digitOf(name[i]) == 0 && isDigitChar(name[i + 1]))
                        ++i;
                    const qsizetype sig = i;
                    while (i < len && isDigitChar(name[i]))
                        ++i;
                    m_bytes.push_back(char(1));
                    appendBigEndian(quint32(i - sig));
                    for (qsizetype k = sig; k < i; ++k)
                        m_bytes.push_back(char(digitOf(name[k])));
                } else {
                    while (i < len && !isDigitChar(name[i]))
                        ++i;
                    const QStringView run = QStringView(name).mid(start, i - start);
                    auto it = textIds.constFind(run);
                    if (it == textIds.constEnd()) {
                        it = textIds.insert(run, int(texts.size()));
                        texts.push_back(run);
                    }
                    m_bytes.push_back(char(2));
                    refs.push_back({qsizetype(m_bytes.size()), it.value()});
                    appendBigEndian(0);
                }
            }
        }
        m_offsets.push_back(m_bytes.size());

        const std::vector<quint32> ranks = collationRanks(texts);
        for (const TextRef &r : refs) {
            const quint32 rank = ranks[r.id];
            for (int k = 0; k < 4; ++k)
                m_bytes[size_t(r.at + k)] = char(rank >> (24 - 8 * k));
        }
    }

    bool less(int a, int b) const
    {
        const size_t la = m_offsets[a + 1] - m_offsets[a], lb = m_offsets[b + 1] - m_offsets[b];
        const int c = std::memcmp(m_bytes.data() + m_offsets[a], m_bytes.data() + m_offsets[b], std::min(la, lb));
        if (c != 0)
            return c < 0;
        if (la != lb)
            return la < lb;
        return tieBreak(m_names[a], m_names[b]) < 0;
    }

private:
    void appendBigEndian(quint32 v)
    {
        for (int k = 0; k < 4; ++k)
            m_bytes.push_back(char(v >> (24 - 8 * k)));
    }

    // Distinct runs sorted once by their collation keys; runs the collation
    // holds equal ("IMG" and "img") share a rank.
    static std::vector<quint32> collationRanks(const std::vector<QStringView> &texts)
    {
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
};

// Sorts `names` and keeps the first `capacity` of them; returns how many were dropped.
int sortAndCap(QStringList &names, int capacity)
{
    if (capacity < 0)
        capacity = 0;
    const int n = int(names.size());
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    {
        const NaturalKeys keys(names);
        auto less = [&keys](int a, int b) { return keys.less(a, b); };
        if (n > capacity) {
            std::nth_element(order.begin(), order.begin() + capacity, order.end(), less);
            order.resize(capacity);
        }
        std::sort(order.begin(), order.end(), less);
    }
    QStringList sorted;
    sorted.reserve(qsizetype(order.size()));
    for (int i : order)
        sorted.append(std::move(names[i]));
    names = std::move(sorted);
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

namespace {

enum class Want { Files, Folders };

// Names are UTF-8 on Linux; the common all-ASCII name takes the fast conversion.
QString decodeName(const char *raw)
{
    const size_t len = std::strlen(raw);
    for (size_t i = 0; i < len; ++i)
        if (static_cast<unsigned char>(raw[i]) >= 0x80)
            return QFile::decodeName(QByteArray(raw, qsizetype(len)));
    return QString::fromLatin1(raw, qsizetype(len));
}

// One reading of a folder's entries. Opening a folder lists it twice (its
// sub-folders, then its files); the second listing reuses the first reading while
// the folder is unchanged and the reading is fresh, so a large folder is read once.
struct Snapshot {
    QString folder;
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    bool settled = false;   // the folder had not changed for a while when it was read
    QElapsedTimer age;
    std::vector<std::pair<QString, unsigned char>> entries;   // name, d_type
};

constexpr qint64 kSnapshotFreshMs = 1000;
// File systems stamp changes with a coarse clock: two changes a few milliseconds
// apart may carry one time. A folder changed this recently is always read again.
constexpr qint64 kSettledNs = 200'000'000;

const Snapshot *readFolder(const QString &folder)
{
    static Snapshot snap;
    const QByteArray path = QFile::encodeName(folder);
    DIR *dir = opendir(path.constData());
    if (!dir)
        return nullptr;
    struct stat st;
    if (fstat(dirfd(dir), &st) == 0 && snap.age.isValid() && snap.folder == folder && snap.dev == st.st_dev
        && snap.ino == st.st_ino && snap.mtime.tv_sec == st.st_mtim.tv_sec
        && snap.mtime.tv_nsec == st.st_mtim.tv_nsec && snap.settled && !snap.age.hasExpired(kSnapshotFreshMs)) {
        closedir(dir);
        return &snap;
    }
    snap.folder = folder;
    snap.dev = st.st_dev;
    snap.ino = st.st_ino;
    snap.mtime = st.st_mtim;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const qint64 sinceChange = (qint64(now.tv_sec) - st.st_mtim.tv_sec) * 1'000'000'000 + (now.tv_nsec - st.st_mtim.tv_nsec);
    snap.settled = sinceChange > kSettledNs;
    snap.entries.clear();
    while (const dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')  // hidden, and "." and ".."
            continue;
        const unsigned char type = e->d_type;
        if (type != DT_REG && type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN)
            continue;
        snap.entries.emplace_back(decodeName(e->d_name), type);
    }
    closedir(dir);
    snap.age.start();
    return &snap;
}

// Entries from d_type: no stat for plain entries. Links and file systems that
// leave d_type unknown get a stat that follows the link.
template <typename Visit>
bool scan(const QString &folder, Want want, Visit visit)
{
    const Snapshot *snap = readFolder(folder);
    if (!snap)
        return false;
    const unsigned char plain = want == Want::Files ? DT_REG : DT_DIR;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const auto &[name, type] : snap->entries) {
        if (type != plain && type != DT_LNK && type != DT_UNKNOWN)
            continue;
        visit(name, [&] {
            if (type == plain)
                return true;
            struct stat st;
            if (stat(QFile::encodeName(prefix + name).constData(), &st) != 0)
                return false;  // dangling link or vanished meanwhile
            return want == Want::Files ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
        });
    }
    return true;
}

}  // namespace

ScanResult scanFolder(const QString &folder, const FilePattern &pattern, int capacity)
{
    ScanResult result;
    QStringList names;
    result.readable = scan(folder, Want::Files, [&](const QString &name, auto isRightKind) {
        // The pattern first: it rejects most names without a stat.
        if (pattern.matches(name) && isRightKind())
            names.append(name);
    });
    result.skipped = sortAndCap(names, capacity);
    result.names = std::move(names);
    return result;
}

QStringList subFolders(const QString &folder, bool *readable)
{
    QStringList names;
    const bool ok = scan(folder, Want::Folders, [&](const QString &name, auto isRightKind) {
        if (isRightKind())
            names.append(name);
    });
    if (readable)
        *readable = ok;
    naturalSort(names);
    return names;
}

}  // namespace pel
