#include "picture/wmf_text.h"

namespace pel::wmf {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; decoded here without a codec
// because it is by far the most common case.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Symbol font's code points: Greek letters and mathematical signs where Latin ones
// would be. 0x20..0x7F, then 0xA0..0xFF; 0 = same as Latin-1.
constexpr char16_t kSymbolLow[96] = {
    0, 0, 0x2200, 0, 0x2203, 0, 0, 0x220B, 0, 0, 0x2217, 0, 0, 0x2212, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1,
    0x039A, 0x039B, 0x039C, 0x039D, 0x039F, 0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5,
    0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0, 0x2234, 0, 0x22A5, 0,
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5,
    0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5,
    0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0, 0, 0, 0x223C, 0};
constexpr char16_t kSymbolHigh[96] = {
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660,
    0x2194, 0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D,
    0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135,
    0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284,
    0x2282, 0x2286, 0x2208, 0x2209, 0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A,
    0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x2329,
    0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7,
    0x23A8, 0x23A9, 0x23AA, 0x00F0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F,
    0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0x00FF};

// The "MT Extra" font of equation editors: embellishments, arrows, ellipses and
// letterlike signs where Latin letters would be, 0x20..0xFF (0 = same as Latin-1).
// Positions as Design Science documents the encoding (its "MT Extra" encoding table,
// also recorded in Mozilla's MathML font notes). Where it gives a private-use code,
// the nearest standard character stands in (pieces of stretched braces and brackets
// become the Unicode pieces or a plain line; arrow pairs their plain forms); accents
// meant to be placed on their own are their spacing forms; pure layout pieces
// (integral loops, joint status marks) draw nothing.
constexpr char16_t kMtExtra[224] = {
    0x0020, 0, 0, 0x02CB, 0x02C6, 0x02DC, 0x02D9, 0,  // 20
    0x2323, 0x2322, 0, 0, 0, 0, 0, 0,  // 28
    0, 0x23AF, 0x23DF, 0x23AF, 0x23AF, 0x23AF, 0x23AF, 0x23DE,  // 30
    0x23AF, 0, 0x223C, 0x2243, 0x22B2, 0x226A, 0x22B3, 0x226B,  // 38
    0x225C, 0x2259, 0x2250, 0x2210, 0x019B, 0x2514, 0x2518, 0x250C,  // 40
    0x2510, 0x2229, 0x2127, 0x2026, 0x22EF, 0x22EE, 0x22F0, 0x22F1,  // 48
    0x2225, 0x2235, 0x2221, 0x2222, 0, 0x222A, 0x25B3, 0x25A1,  // 50
    0x25AD, 0x25B1, 0x2197, 0x2199, 0x2922, 0x2198, 0x2196, 0x2921,  // 58
    0x2035, 0x21A6, 0x2195, 0x21D5, 0x25CB, 0x2299, 0x227B, 0x2219,  // 60
    0x210F, 0x0020, 0x0020, 0, 0x2113, 0x2213, 0x0020, 0x2218,  // 68
    0x227A, 0x21BD, 0x20D7, 0x20D6, 0x20E1, 0x0305, 0x20D1, 0x20D0,  // 70
    0x21C1, 0, 0, 0x23DF, 0x23B5, 0x23DE, 0x23B4, 0,  // 78
    0x21C4, 0x21C4, 0x21C4, 0x21CC, 0x21CC, 0x21CC, 0x21C0, 0x21BD,  // 80
    0x23AF, 0, 0, 0, 0, 0, 0, 0,  // 88
    0, 0, 0, 0, 0, 0, 0, 0,  // 90
    0, 0, 0, 0, 0, 0, 0, 0,  // 98
    0, 0x211D, 0x2124, 0x2102, 0x211A, 0x2115, 0, 0x301A,  // A0
    0x301B, 0x23A1, 0x23A2, 0x23A3, 0x23A4, 0x23A5, 0x23A6, 0,  // A8
    0x02DC, 0x02DC, 0x02DC, 0, 0, 0x02C6, 0x02C6, 0x02C6,  // B0
    0, 0, 0x2312, 0x2312, 0x2312, 0, 0, 0,  // B8
    0x0020, 0x0020, 0x0020, 0x0020, 0, 0, 0, 0,  // C0
    0, 0, 0, 0, 0, 0, 0, 0,  // C8
    0, 0x0020, 0x0020, 0x0020, 0, 0x0020, 0x0020, 0,  // D0
    0, 0, 0, 0, 0, 0, 0, 0,  // D8
    0, 0, 0, 0, 0, 0, 0, 0x0020,  // E0
    0x0160, 0x00DD, 0x00DE, 0x00D0, 0x0161, 0x00FD, 0x00FE, 0x00F0,  // E8
    0xFB01, 0xFB02, 0x0131, 0x00B9, 0x00B2, 0x00B3, 0x00BD, 0x00BC,  // F0
    0x00BE, 0x2044, 0x00A6, 0x02DD, 0x02D8, 0x02C7, 0x02DA, 0x02DB,  // F8
};

enum class Kind { Cp1252, Latin1, Symbol, MtExtra, SingleByte, DoubleByte };

bool isMtExtra(const QString &face) { return face.startsWith(QLatin1String("mt extra"), Qt::CaseInsensitive); }

Kind kindOf(int charset, const QString &face)
{
    // Writers give MT Extra the symbol charset or the ANSI one; its name decides.
    if ((charset == AnsiCharset || charset == DefaultCharset || charset == SymbolCharset) && isMtExtra(face))
        return Kind::MtExtra;
    switch (charset) {
    case AnsiCharset:
    case DefaultCharset: return Kind::Cp1252;
    case SymbolCharset:
        return face.startsWith(QLatin1String("symbol"), Qt::CaseInsensitive) ? Kind::Symbol
                                                                             : Kind::Latin1;
    case ShiftJisCharset:
    case HangulCharset:
    case JohabCharset:
    case Gb2312Charset:
    case Big5Charset: return Kind::DoubleByte;
    default: return Kind::SingleByte;
    }
}

const char *codecName(int charset)
{
    switch (charset) {
    case MacCharset: return "macintosh";
    case ShiftJisCharset: return "Shift_JIS";
    case HangulCharset:
    case JohabCharset: return "windows-949";
    case Gb2312Charset: return "GBK";
    case Big5Charset: return "Big5";
    case GreekCharset: return "windows-1253";
    case TurkishCharset: return "windows-1254";
    case VietnameseCharset: return "windows-1258";
    case HebrewCharset: return "windows-1255";
    case ArabicCharset: return "windows-1256";
    case BalticCharset: return "windows-1257";
    case RussianCharset: return "windows-1251";
    case ThaiCharset: return "windows-874";
    case EastEuropeCharset: return "windows-1250";
    case OemCharset: return "IBM437";
    default: return nullptr;
    }
}

bool isLeadByte(int charset, uchar b)
{
    if (charset == ShiftJisCharset) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return b >= 0x81 && b <= 0xFE;
}

QChar tableChar(Kind kind, uchar b)
{
    if (kind == Kind::Cp1252 && b >= 0x80 && b < 0xA0) return QChar(kCp1252High[b - 0x80]);
    if (kind == Kind::MtExtra && b >= 0x20 && kMtExtra[b - 0x20]) return QChar(kMtExtra[b - 0x20]);
    if (kind == Kind::Symbol) {
        char16_t c = 0;
        if (b >= 0x20 && b < 0x80) c = kSymbolLow[b - 0x20];
        else if (b >= 0xA0) c = kSymbolHigh[b - 0xA0];
        if (c) return QChar(c);
    }
    return QChar(b);
}

}  // namespace

bool TextDecoder::isMathFont(int charset, const QString &face)
{
    const Kind kind = kindOf(charset, face);
    return kind == Kind::Symbol || kind == Kind::MtExtra;
}

QStringDecoder *TextDecoder::codec(int charset)
{
    auto it = codecs_.find(charset);
    if (it == codecs_.end()) {
        const char *name = codecName(charset);
        it = codecs_.emplace(charset, name ? QStringDecoder(name) : QStringDecoder()).first;
    }
    return it->second.isValid() ? &it->second : nullptr;
}

QString TextDecoder::decode(QByteArrayView bytes, int charset, const QString &face)
{
    const Kind kind = kindOf(charset, face);
    QStringDecoder *c = (kind == Kind::SingleByte || kind == Kind::DoubleByte) ? codec(charset) : nullptr;
    if (c) {
        c->resetState();
        return c->decode(bytes);
    }
    // No codec for it (or a table charset): Windows-1252 is the best fallback.
    const Kind table = kind == Kind::Symbol || kind == Kind::Latin1 || kind == Kind::MtExtra ? kind : Kind::Cp1252;
    QString s(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) s[i] = tableChar(table, uchar(bytes[i]));
    return s;
}

DecodedText TextDecoder::decodeWithOffsets(QByteArrayView bytes, int charset, const QString &face)
{
    DecodedText out;
    const bool dbcs = kindOf(charset, face) == Kind::DoubleByte;
    if (!dbcs) {  // one byte, one character: usually one UTF-16 unit each
        out.text = decode(bytes, charset, face);
        if (out.text.size() == bytes.size()) {
            out.firstByte.resize(size_t(bytes.size()));
            for (qsizetype i = 0; i < bytes.size(); ++i) out.firstByte[size_t(i)] = int(i);
            return out;
        }
        out.text.clear();
    }
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype len = dbcs && isLeadByte(charset, uchar(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
        const QString piece = decode(bytes.sliced(i, len), charset, face);
        out.text += piece;
        out.firstByte.insert(out.firstByte.end(), size_t(piece.size()), int(i));
        i += len;
    }
    return out;
}

}  // namespace pel::wmf
