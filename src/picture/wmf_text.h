#pragma once
// Text bytes of metafile records, decoded with the charset of the selected font.
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <map>
#include <vector>

namespace pel::wmf {

// GDI charset numbers (the lfCharSet of a font record).
enum Charset : int {
    AnsiCharset = 0, DefaultCharset = 1, SymbolCharset = 2, MacCharset = 77,
    ShiftJisCharset = 128, HangulCharset = 129, JohabCharset = 130, Gb2312Charset = 134,
    Big5Charset = 136, GreekCharset = 161, TurkishCharset = 162, VietnameseCharset = 163,
    HebrewCharset = 177, ArabicCharset = 178, BalticCharset = 186, RussianCharset = 204,
    ThaiCharset = 222, EastEuropeCharset = 238, OemCharset = 255,
};

// Decoded text and, for each UTF-16 unit, the byte its character starts at (Dx
// arrays have one entry per byte, so a double-byte character owns two).
struct DecodedText {
    QString text;
    std::vector<int> firstByte;
};

class TextDecoder {
public:
    // `face` matters for the math fonts: the Symbol font's letters are Greek, and the
    // MT Extra font's are arrows, ellipses and accents.
    QString decode(QByteArrayView bytes, int charset, const QString &face = {});
    // A font whose text decode() turns into real characters of another font's repertoire
    // (Symbol, MT Extra): it is drawn with a common serif face instead of its own name.
    static bool isMathFont(int charset, const QString &face);
    // Same, with the byte offset of every character.
    DecodedText decodeWithOffsets(QByteArrayView bytes, int charset, const QString &face = {});

private:
    QStringDecoder *codec(int charset);
    std::map<int, QStringDecoder> codecs_;
};

}  // namespace pel::wmf
