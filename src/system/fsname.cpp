#include "system/fsname.h"

#include <QDir>
#include <QSet>

#include <climits>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace pel::fsname {
namespace {

constexpr char16_t kRawBase = 0xDC00;   // a raw byte b (0x80..0xFF) is U+DC00 + b

bool isRawByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// The length of the valid UTF-8 sequence at `s` (at most `left` bytes), 0 when
// there is none: no overlong forms, no surrogates, nothing above U+10FFFF.
int validSequence(const uchar *s, qsizetype left)
{
    const uchar b = s[0];
    auto cont = [&](int i, uchar lo = 0x80, uchar hi = 0xBF) { return i < left && s[i] >= lo && s[i] <= hi; };
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const uchar lo = b == 0xE0 ? 0xA0 : 0x80;
        const uchar hi = b == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const uchar lo = b == 0xF0 ? 0x90 : 0x80;
        const uchar hi = b == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

}  // namespace

QByteArray encode(const QString &name)
{
    QByteArray out;
    out.reserve(name.size() * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(c, name.at(++i).unicode()));
        } else if (isRawByte(c)) {
            out.append(char(c - kRawBase));
        } else if (QChar::isSurrogate(c)) {
            appendUtf8(out, 0xFFFD);   // never made by decode(); a name with one is refused before use
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

QString decode(const char *bytes, qsizetype size)
{
    const auto *s = reinterpret_cast<const uchar *>(bytes);
    QString out;
    out.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const int len = validSequence(s + i, size - i);
        if (len == 0) {
            out.append(QChar(char16_t(kRawBase + s[i])));
            ++i;
        } else if (len == 1) {
            out.append(QLatin1Char(char(s[i])));
            ++i;
        } else {
            out.append(QString::fromUtf8(bytes + i, len));
            i += len;
        }
    }
    return out;
}

QString decode(const QByteArray &bytes) { return decode(bytes.constData(), bytes.size()); }

bool hasRawBytes(const QString &name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name.at(i + 1).unicode()))
            ++i;
        else if (isRawByte(c))
            return true;
    }
    return false;
}

QString display(const QString &name)
{
    if (!hasRawBytes(name))
        return name;
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            out.append(name.at(i));
            out.append(name.at(++i));
        } else if (isRawByte(c)) {
            out.append(QLatin1String("\\x") + QString::number(int(c - kRawBase), 16).toUpper());
        } else {
            out.append(QChar(c));
        }
    }
    return out;
}

QStringList displayDistinct(const QStringList &names)
{
    bool any = false;
    for (const QString &n : names)
        any = any || hasRawBytes(n);
    if (!any)
        return names;
    // Names of UTF-8 alone keep their own text; the others take the next free one.
    QSet<QString> used;
    for (const QString &n : names)
        if (!hasRawBytes(n))
            used.insert(n);
    QStringList shown = names;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!hasRawBytes(names.at(i)))
            continue;
        const QString base = display(names.at(i));
        QString text = base;
        for (int k = 2; used.contains(text); ++k)
            text = base + QStringLiteral(" (%1)").arg(k);
        used.insert(text);
        shown[i] = text;
    }
    return shown;
}

QString currentFolder()
{
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    return cwd ? decode(QByteArray(cwd.get())) : QString();
}

bool setCurrentFolder(const QString &folder) { return ::chdir(encode(folder).constData()) == 0; }

QString canonical(const QString &path)
{
    if (path.isEmpty())
        return {};
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(encode(path).constData(), nullptr), &std::free);
    return real ? decode(QByteArray(real.get())) : QString();
}

QString absolute(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    return QDir::cleanPath(currentFolder() + QLatin1Char('/') + path);
}

}  // namespace pel::fsname
