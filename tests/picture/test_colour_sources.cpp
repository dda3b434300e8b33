// What a file's bytes say of its colours: JPEG APP2 chunks and EXIF, BMP V4/V5 headers,
// PNG chunks; and that a calibrated BMP or a PNG's chromaticities convert as lcms does.
#include "picture/colour_sources.h"
#include "picture/colour_reference.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtTest>

#include <zlib.h>

using namespace pel::picture::colour;
using namespace pel::test;
using Kind = SourceProfile::Kind;
namespace colour = pel::picture::colour;

namespace {

QByteArray bytes2(char a, char b)
{
    const char both[2] = {a, b};
    return QByteArray(both, 2);
}
QByteArray be16(int v) { return bytes2(char(v >> 8), char(v)); }
QByteArray be32(quint32 v) { return be16(int(v >> 16)) + be16(int(v & 0xffff)); }
QByteArray le16(int v) { return bytes2(char(v), char(v >> 8)); }
QByteArray le32(quint32 v) { return le16(int(v & 0xffff)) + le16(int(v >> 16)); }

// An APP2 payload carrying chunk `number` of `count`.
QByteArray app2(int number, int count, const QByteArray &part)
{
    return QByteArray("ICC_PROFILE", 12) + char(number) + char(count) + part;
}

// A profile's worth of bytes (the chunks' assembly does not read them).
QByteArray someProfile(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 7 + i / 251);
    return b;
}

QList<QByteArrayView> views(const QList<QByteArray> &list)
{
    QList<QByteArrayView> v;
    for (const QByteArray &b : list)
        v.append(b);
    return v;
}

// An EXIF APP1 payload: IFD0 pointing to an Exif IFD with ColorSpace (when >= 0) and an
// interoperability IFD holding `interop` (when not empty).
QByteArray exif(bool bigEndian, int colorSpace, const QByteArray &interop)
{
    auto u16 = [bigEndian](int v) { return bigEndian ? be16(v) : le16(v); };
    auto u32 = [bigEndian](quint32 v) { return bigEndian ? be32(v) : le32(v); };
    auto entry = [&](int tag, int type, quint32 count, const QByteArray &value) {
        return u16(tag) + u16(type) + u32(count) + value.leftJustified(4, '\0');
    };
    // TIFF header (8), IFD0 at 8 with one entry (2 + 12 + 4 = 18), the Exif IFD at 26.
    QByteArray t = QByteArray(bigEndian ? "MM" : "II") + u16(42) + u32(8);
    t += u16(1) + entry(0x8769, 4, 1, u32(26)) + u32(0);
    const int entries = (colorSpace >= 0) + !interop.isEmpty();
    const quint32 interopAt = 26 + 2 + 12 * quint32(entries) + 4;
    t += u16(entries);
    if (colorSpace >= 0)
        t += entry(0xA001, 3, 1, u16(colorSpace));
    if (!interop.isEmpty())
        t += entry(0xA005, 4, 1, u32(interopAt));
    t += u32(0);
    if (!interop.isEmpty())
        t += u16(1) + entry(0x0001, 2, quint32(interop.size() + 1), interop) + u32(0);
    return QByteArray("Exif\0\0", 6) + t;
}

// A BMP info header of `size` bytes with the colour fields given.
QByteArray bmpHeader(quint32 size, quint32 csType, const qint32 endpoints[9], quint32 gamma, quint32 profileOffset = 0,
                     quint32 profileSize = 0)
{
    QByteArray h = le32(size) + le32(4) + le32(4) + le16(1) + le16(32) + le32(3);
    h = h.leftJustified(56, '\0') + le32(csType);
    for (int i = 0; i < 9; ++i)
        h += le32(quint32(endpoints ? endpoints[i] : 0));
    h += le32(gamma) + le32(gamma) + le32(gamma);
    h += le32(4) + le32(profileOffset) + le32(profileSize) + le32(0);  // intent, profile, reserved
    return h.left(int(size));
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    const QByteArray body = type + data;
    const auto crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size())));
    return be32(quint32(data.size())) + body + be32(crc);
}

// A 1 x 1 PNG with `before` chunks ahead of its picture data and `after` behind it.
QByteArray png(const QByteArray &before, const QByteArray &after = {})
{
    const QByteArray ihdr = be32(1) + be32(1) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + before
           + pngChunk("IDAT", qCompress(QByteArray(4, '\0')).mid(4)) + after + pngChunk("IEND", {});
}

QByteArray iccp(const QByteArray &compressed) { return pngChunk("iCCP", QByteArray("name\0\0", 6) + compressed); }
QByteArray zlibOf(const QByteArray &bytes) { return qCompress(bytes).mid(4); }  // without Qt's size prefix

// FXPT2DOT30 end points read from a profile's colourant tags.
bool endpointsOf(const QByteArray &icc, qint32 out[9])
{
    const LcmsProfile p = lcmsProfile(icc);
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto *xyz = p ? static_cast<const cmsCIEXYZ *>(cmsReadTag(p.get(), tags[c])) : nullptr;
        if (!xyz)
            return false;
        const double v[3] = {xyz->X, xyz->Y, xyz->Z};
        for (int i = 0; i < 3; ++i)
            out[3 * c + i] = qint32(std::lround(v[i] * (1 << 30)));
    }
    return true;
}

}  // namespace

class TestColourSources : public QObject {
    Q_OBJECT

private slots:
    void iccFromApp2_data()
    {
        QTest::addColumn<QList<int>>("numbers");  // the chunks' numbers, in file order
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("wrongCountAt");    // this segment claims one more chunk (-1: none)
        QTest::addColumn<bool>("whole");
        QTest::newRow("one chunk") << QList<int>{1} << 1 << -1 << true;
        QTest::newRow("three in order") << QList<int>{1, 2, 3} << 3 << -1 << true;
        QTest::newRow("three in any order") << QList<int>{3, 1, 2} << 3 << -1 << true;
        QTest::newRow("a chunk twice") << QList<int>{1, 2, 2, 3} << 3 << -1 << false;
        QTest::newRow("a chunk missing") << QList<int>{1, 3} << 3 << -1 << false;
        QTest::newRow("number zero") << QList<int>{0, 1} << 1 << -1 << false;
        QTest::newRow("number past the count") << QList<int>{1, 2, 4} << 3 << -1 << false;
        QTest::newRow("counts disagree") << QList<int>{1, 2, 3} << 3 << 2 << false;
        QTest::newRow("no chunk") << QList<int>{} << 1 << -1 << false;
    }
    void iccFromApp2()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(int, count);
        QFETCH(int, wrongCountAt);
        QFETCH(bool, whole);
        const QByteArray profile = someProfile(3000);
        const int part = (profile.size() + count - 1) / count;
        QList<QByteArray> segments{QByteArray("FPXR\0\0\x01", 7)};  // another APP2 use, skipped
        for (int i = 0; i < numbers.size(); ++i) {
            const int n = numbers[i];
            segments.append(app2(n, i == wrongCountAt ? count + 1 : count, profile.mid((std::max(n, 1) - 1) * part, part)));
        }
        QCOMPARE(colour::iccFromApp2(views(segments)), whole ? profile : QByteArray());
    }

    void iccFromApp2RefusesOversize()
    {
        const QByteArray part(65519, 'p');
        const int count = int(kMaxProfileBytes / part.size()) + 1;
        QList<QByteArray> segments;
        for (int n = 1; n <= count; ++n)
            segments.append(app2(n, count, part));
        QVERIFY(colour::iccFromApp2(views(segments)).isEmpty());
        segments.removeLast();
        for (QByteArray &s : segments)
            s[13] = char(count - 1);
        QCOMPARE(colour::iccFromApp2(views(segments)).size(), qsizetype(count - 1) * part.size());
    }

    void exifColour_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("colorSpace");
        QTest::addColumn<QByteArray>("interop");
        QTest::addColumn<bool>("adobe");
        QTest::newRow("Intel, uncalibrated, R03") << exif(false, 0xFFFF, "R03") << 0xFFFF << QByteArray("R03") << true;
        QTest::newRow("Motorola, uncalibrated, R03") << exif(true, 0xFFFF, "R03") << 0xFFFF << QByteArray("R03") << true;
        QTest::newRow("sRGB, R98") << exif(false, 1, "R98") << 1 << QByteArray("R98") << false;
        QTest::newRow("uncalibrated, R98") << exif(true, 0xFFFF, "R98") << 0xFFFF << QByteArray("R98") << false;
        QTest::newRow("uncalibrated, no interoperability") << exif(false, 0xFFFF, {}) << 0xFFFF << QByteArray() << false;
        QTest::newRow("R03, no colour space") << exif(false, -1, "R03") << 0 << QByteArray("R03") << false;
        QTest::newRow("cut in the interoperability IFD") << exif(false, 0xFFFF, "R03").left(60) << 0xFFFF << QByteArray() << false;
        QTest::newRow("cut in the Exif IFD") << exif(true, 0xFFFF, "R03").left(40) << 0 << QByteArray() << false;
        QTest::newRow("not EXIF") << QByteArray("http://ns.adobe.com/xap/1.0/\0<x/>") << 0 << QByteArray() << false;
    }
    void exifColour()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, colorSpace);
        QFETCH(QByteArray, interop);
        QFETCH(bool, adobe);
        const ExifColour c = colour::exifColour(payload);
        QCOMPARE(c.colorSpace, colorSpace);
        QCOMPARE(c.interopIndex, interop);
        QCOMPARE(c.adobeRgb(), adobe);
    }

    void jpegSource()
    {
        const QByteArray profile = someProfile(500), adobeExif = exif(false, 0xFFFF, "R03");
        const QByteArray chunk = app2(1, 1, profile);
        const QList<QByteArrayView> withProfile{chunk};
        QCOMPARE(colour::jpegSource(withProfile, adobeExif).icc(), profile);  // the profile first
        QVERIFY(colour::jpegSource({}, adobeExif) == SourceProfile::builtin(Builtin::AdobeRgb));
        QVERIFY(colour::jpegSource({}, exif(false, 1, "R98")).isSrgb());
        QVERIFY(colour::jpegSource({}, {}).isSrgb());
    }

    void bmpColourSpace_data()
    {
        static const qint32 plausible[9] = {0x1B5F7000, 0x0E5B8000, 0x00F8F000, 0x0A1E3000, 0x2580D000,
                                            0x061D7000, 0x079AF000, 0x00F8A000, 0x2D9A1000};
        static const qint32 zero[9] = {};
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<quint32>("size");
        const quint32 gamma22 = 0x00023333;
        QTest::newRow("V3 header") << bmpHeader(40, 0, plausible, gamma22) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 cut short") << bmpHeader(108, 0, plausible, gamma22).left(100) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 sRGB") << bmpHeader(108, 0x73524742, plausible, gamma22) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 Windows colour space") << bmpHeader(108, 0x57696E20, nullptr, 0) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 calibrated") << bmpHeader(108, 0, plausible, gamma22) << int(Kind::Endpoints) << 0u << 0u;
        QTest::newRow("V5 calibrated") << bmpHeader(124, 0, plausible, gamma22) << int(Kind::Endpoints) << 0u << 0u;
        QTest::newRow("calibrated, all zero") << bmpHeader(108, 0, zero, 0) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("calibrated, gamma zero") << bmpHeader(108, 0, plausible, 0) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 linked profile") << bmpHeader(124, 0x4C494E4B, nullptr, 0, 124, 20) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 embedded") << bmpHeader(124, 0x4D424544, nullptr, 0, 5000, 3144) << int(Kind::Srgb) << 5000u << 3144u;
        QTest::newRow("V5 embedded, too large") << bmpHeader(124, 0x4D424544, nullptr, 0, 5000, 0x7fffffff) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 embedded inside the header") << bmpHeader(124, 0x4D424544, nullptr, 0, 60, 100) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 claims embedded") << bmpHeader(108, 0x4D424544, nullptr, 0) << int(Kind::Srgb) << 0u << 0u;
    }
    void bmpColourSpace()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, kind);
        QFETCH(quint32, offset);
        QFETCH(quint32, size);
        const BmpColourSpace c = colour::bmpColourSpace(reinterpret_cast<const uchar *>(header.constData()), std::size_t(header.size()));
        QCOMPARE(int(c.profile.kind()), kind);
        QCOMPARE(c.profileOffset, offset);
        QCOMPARE(c.profileSize, size);
    }

    // A V4 header with Adobe RGB's colourants and gamma 2.2 converts as Adobe RGB does.
    void calibratedBmpConverts()
    {
        const QByteArray adobe = readProfile(kColordAdobe);
        qint32 endpoints[9];
        if (adobe.isEmpty() || !endpointsOf(adobe, endpoints))
            QSKIP("colord-data's AdobeRGB1998.icc is not installed");
        const QByteArray header = bmpHeader(108, 0, endpoints, 0x00023333);
        const SourceProfile source = colour::bmpColourSpace(reinterpret_cast<const uchar *>(header.constData()), 108).profile;
        QCOMPARE(int(source.kind()), int(Kind::Endpoints));
        const LcmsProfile wide = lcmsProfile(adobe), srgb(cmsCreate_sRGBProfile());
        const QImage encoded = lcmsEncode(referencePicture(), wide.get());
        const QImage expected = lcmsConvert(encoded, wide.get(), TYPE_BGRA_8, srgb.get());
        QImage shown = encoded;
        QVERIFY(apply(shown, source));
        QVERIFY2(rmsPercent(shown, expected) <= 1.0, qPrintable(QString::number(rmsPercent(shown, expected))));
    }

    void pngSource_data()
    {
        const QByteArray profile = someProfile(4000);
        const QByteArray adobeChrm = be32(31270) + be32(32900) + be32(64000) + be32(33000) + be32(21000) + be32(71000)
                                     + be32(15000) + be32(6000);
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("icc");
        QTest::newRow("nothing") << png({}) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("sRGB") << png(pngChunk("sRGB", QByteArray(1, '\0'))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("gAMA 1/2.2 alone") << png(pngChunk("gAMA", be32(45455))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("gAMA 1.0 alone") << png(pngChunk("gAMA", be32(100000))) << int(Kind::Chromaticities) << QByteArray();
        QTest::newRow("cHRM and gAMA") << png(pngChunk("gAMA", be32(45470)) + pngChunk("cHRM", adobeChrm)) << int(Kind::Chromaticities) << QByteArray();
        QTest::newRow("iCCP") << png(iccp(zlibOf(profile))) << int(Kind::Icc) << profile;
        QTest::newRow("iCCP before sRGB") << png(iccp(zlibOf(profile)) + pngChunk("sRGB", QByteArray(1, '\0'))) << int(Kind::Icc) << profile;
        QTest::newRow("iCCP that does not inflate") << png(iccp("not zlib at all")) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("iCCP cut short") << png(iccp(zlibOf(profile).left(100))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("iCCP inflating past the cap") << png(iccp(zlibOf(QByteArray(kMaxProfileBytes + 1, '\0')))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("iCCP after the picture data") << png({}, iccp(zlibOf(profile))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("chunk longer than the file") << png(be32(0x7ffffff0) + "iCCP") << int(Kind::Srgb) << QByteArray();
        QTest::newRow("not a PNG") << QByteArray("GIF89a") << int(Kind::Srgb) << QByteArray();
    }
    void pngSource()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, kind);
        QFETCH(QByteArray, icc);
        const SourceProfile source = colour::pngSource(file);
        QCOMPARE(int(source.kind()), kind);
        QCOMPARE(source.icc(), icc);
    }

    // Adobe RGB given as cHRM and gAMA converts as Adobe RGB's profile does, and so does
    // the profile Qt's PNG writer embeds.
    void pngConverts_data()
    {
        QTest::addColumn<bool>("viaQt");
        QTest::newRow("cHRM and gAMA") << false;
        QTest::newRow("iCCP written by Qt") << true;
    }
    void pngConverts()
    {
        QFETCH(bool, viaQt);
        const QByteArray adobe = readProfile(kColordAdobe);
        if (adobe.isEmpty())
            QSKIP("colord-data's AdobeRGB1998.icc is not installed");
        const LcmsProfile wide = lcmsProfile(adobe), srgb(cmsCreate_sRGBProfile());
        QImage encoded = lcmsEncode(referencePicture(), wide.get());
        QByteArray file;
        if (viaQt) {
            encoded.setColorSpace(QColorSpace::fromIccProfile(adobe));
            QBuffer buffer(&file);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && encoded.save(&buffer, "PNG"));
        } else {
            const QByteArray chrm = be32(31270) + be32(32900) + be32(64000) + be32(33000) + be32(21000) + be32(71000)
                                    + be32(15000) + be32(6000);
            file = png(pngChunk("gAMA", be32(45470)) + pngChunk("cHRM", chrm));
        }
        const SourceProfile source = colour::pngSource(file);
        QVERIFY(!source.isSrgb());
        const QImage expected = lcmsConvert(encoded, wide.get(), TYPE_BGRA_8, srgb.get());
        QImage shown = encoded;
        QVERIFY(apply(shown, source));
        QVERIFY2(rmsPercent(shown, expected) <= 1.0, qPrintable(QString::number(rmsPercent(shown, expected))));
    }
};

QTEST_GUILESS_MAIN(TestColourSources)
#include "test_colour_sources.moc"
