// What a file's bytes say of its colours: JPEG APP2 chunks and EXIF, BMP V4/V5 headers,
// PNG chunks. (That what they say converts right is test_colour's.)
#include "picture/colour_reference.h"
#include "picture/colour_sources.h"

#include <QtTest>

using namespace pel::picture::colour;
using namespace pel::test;
using Kind = SourceProfile::Kind;
namespace colour = pel::picture::colour;

namespace {

QByteArray app2(int number, int count, const QByteArray &part) { return QByteArray("ICC_PROFILE", 12) + char(number) + char(count) + part; }

QList<QByteArrayView> views(const QList<QByteArray> &list) { return QList<QByteArrayView>(list.begin(), list.end()); }

// An EXIF APP1 payload: IFD0 pointing to an Exif IFD with ColorSpace (when >= 0) and an
// interoperability IFD holding `interop` (when not empty).
QByteArray exif(bool big, int colorSpace, const QByteArray &interop)
{
    auto entry = [big](int tag, int type, quint32 count, const QByteArray &value) {
        return bytesOf(quint32(tag), 2, big) + bytesOf(quint32(type), 2, big) + bytesOf(count, 4, big) + value.leftJustified(4, '\0');
    };
    const int entries = (colorSpace >= 0) + !interop.isEmpty();
    const quint32 interopAt = 26 + 2 + 12 * quint32(entries) + 4;  // after the header, IFD0 and the Exif IFD
    QByteArray t = QByteArray(big ? "MM" : "II") + bytesOf(42, 2, big) + bytesOf(8, 4, big);
    t += bytesOf(1, 2, big) + entry(0x8769, 4, 1, bytesOf(26, 4, big)) + bytesOf(0, 4, big) + bytesOf(quint32(entries), 2, big);
    if (colorSpace >= 0)
        t += entry(0xA001, 3, 1, bytesOf(quint32(colorSpace), 2, big));
    if (!interop.isEmpty())
        t += entry(0xA005, 4, 1, bytesOf(interopAt, 4, big));
    t += bytesOf(0, 4, big);
    if (!interop.isEmpty())
        t += bytesOf(1, 2, big) + entry(0x0001, 2, quint32(interop.size() + 1), interop) + bytesOf(0, 4, big);
    return QByteArray("Exif\0\0", 6) + t;
}

QByteArray iccp(const QByteArray &compressed) { return pngChunk("iCCP", QByteArray("name\0\0", 6) + compressed); }
QByteArray zlibOf(const QByteArray &bytes) { return qCompress(bytes).mid(4); }  // without Qt's size in front

}  // namespace

class TestColourSources : public QObject {
    Q_OBJECT

private slots:
    void iccFromApp2_data()
    {
        QTest::addColumn<QList<int>>("numbers");  // the chunks' numbers, in file order
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("wrongCountAt");  // this segment claims one chunk more (-1: none)
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
        QByteArray profile(3000, '\0');
        for (int i = 0; i < profile.size(); ++i)
            profile[i] = char(i * 7 + i / 251);
        const int part = (int(profile.size()) + count - 1) / count;
        QList<QByteArray> segments{QByteArray("FPXR\0\0\x01", 7)};  // another use of APP2, skipped
        for (int i = 0; i < numbers.size(); ++i)
            segments.append(app2(numbers[i], count + (i == wrongCountAt), profile.mid((std::max(numbers[i], 1) - 1) * part, part)));
        QCOMPARE(colour::iccFromApp2(views(segments)), whole ? profile : QByteArray());
    }

    void iccFromApp2Bounded()
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
        QTest::newRow("Intel, uncalibrated, R03") << exif(false, 0xFFFF, "R03") << 0xFFFF << QByteArray("R03");
        QTest::newRow("Motorola, uncalibrated, R03") << exif(true, 0xFFFF, "R03") << 0xFFFF << QByteArray("R03");
        QTest::newRow("sRGB, R98") << exif(false, 1, "R98") << 1 << QByteArray("R98");
        QTest::newRow("uncalibrated, no interoperability") << exif(true, 0xFFFF, {}) << 0xFFFF << QByteArray();
        QTest::newRow("R03, no colour space") << exif(false, -1, "R03") << 0 << QByteArray("R03");
        QTest::newRow("cut in the interoperability IFD") << exif(false, 0xFFFF, "R03").left(60) << 0xFFFF << QByteArray();
        QTest::newRow("cut in the Exif IFD") << exif(true, 0xFFFF, "R03").left(40) << 0 << QByteArray();
        QTest::newRow("not EXIF") << QByteArray("http://ns.adobe.com/xap/1.0/") << 0 << QByteArray();
    }
    void exifColour()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, colorSpace);
        QFETCH(QByteArray, interop);
        const ExifColour c = colour::exifColour(payload);
        QCOMPARE(c.colorSpace, colorSpace);
        QCOMPARE(c.interopIndex, interop);
        QCOMPARE(c.adobeRgb(), colorSpace == 0xFFFF && interop == "R03");
        // A JPEG's source: its profile first, then EXIF's Adobe RGB, else sRGB.
        const QByteArray chunk = app2(1, 1, QByteArray(200, 'i'));
        QCOMPARE(colour::jpegSource({chunk}, payload).icc(), chunk.mid(14));
        QVERIFY(colour::jpegSource({}, payload) == (c.adobeRgb() ? SourceProfile::builtin(Builtin::AdobeRgb) : SourceProfile()));
    }

    void bmpColourSpace_data()
    {
        static const qint32 plausible[9] = {0x1B5F7000, 0x0E5B8000, 0x00F8F000, 0x0A1E3000, 0x2580D000,
                                            0x061D7000, 0x079AF000, 0x00F8A000, 0x2D9A1000};
        static const qint32 zero[9] = {};
        const quint32 gamma22 = 0x00023333, embedded = 0x4D424544;
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<quint32>("size");
        QTest::newRow("V3 header") << bmpHeader(40, 0, plausible, gamma22) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 cut short") << bmpHeader(108, 0, plausible, gamma22).left(100) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 sRGB") << bmpHeader(108, 0x73524742, plausible, gamma22) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 Windows colour space") << bmpHeader(108, 0x57696E20, plausible, gamma22) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 calibrated") << bmpHeader(108, 0, plausible, gamma22) << int(Kind::Endpoints) << 0u << 0u;
        QTest::newRow("V5 calibrated") << bmpHeader(124, 0, plausible, gamma22) << int(Kind::Endpoints) << 0u << 0u;
        // Chromaticities (x, y, 1 - x - y) and the encoding exponent, as ImageMagick writes them.
        auto chromaticities = [](std::initializer_list<double> xy) {
            QList<qint32> v;
            for (auto p = xy.begin(); p != xy.end(); p += 2)
                v << qint32(std::lround(p[0] * (1 << 30))) << qint32(std::lround(p[1] * (1 << 30)))
                  << qint32(std::lround((1 - p[0] - p[1]) * (1 << 30)));
            return v;
        };
        const QList<qint32> srgbXy = chromaticities({0.64, 0.33, 0.30, 0.60, 0.15, 0.06});
        const QList<qint32> adobeXy = chromaticities({0.64, 0.33, 0.21, 0.71, 0.15, 0.06});
        QTest::newRow("chromaticities of sRGB, 1/2.2") << bmpHeader(108, 0, srgbXy.constData(), 0x0000745D) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("chromaticities of Adobe RGB, 1/2.2") << bmpHeader(108, 0, adobeXy.constData(), 0x0000745D)
                                                          << int(Kind::Chromaticities) << 0u << 0u;
        QTest::newRow("chromaticities of sRGB, gamma 1.8") << bmpHeader(108, 0, srgbXy.constData(), 0x0001CCCD)
                                                         << int(Kind::Chromaticities) << 0u << 0u;
        QTest::newRow("calibrated, all zero") << bmpHeader(108, 0, zero, 0) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("calibrated, gamma zero") << bmpHeader(108, 0, plausible, 0) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 linked profile") << bmpHeader(124, 0x4C494E4B, nullptr, 0, 124, 20) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 embedded") << bmpHeader(124, embedded, nullptr, 0, 5000, 3144) << int(Kind::Srgb) << 5000u << 3144u;
        QTest::newRow("V5 embedded, too large") << bmpHeader(124, embedded, nullptr, 0, 5000, 0x7fffffff) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V5 embedded in the header") << bmpHeader(124, embedded, nullptr, 0, 60, 100) << int(Kind::Srgb) << 0u << 0u;
        QTest::newRow("V4 claims embedded") << bmpHeader(108, embedded, nullptr, 0) << int(Kind::Srgb) << 0u << 0u;
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

    void pngSource_data()
    {
        QByteArray profile(4000, '\0');
        for (int i = 0; i < profile.size(); ++i)
            profile[i] = char(i % 253);
        const QByteArray srgbChunk = pngChunk("sRGB", QByteArray(1, '\0'));
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("icc");
        QTest::newRow("nothing") << png({}) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("sRGB") << png(srgbChunk + adobeChrm()) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("gAMA 1/2.2 alone") << png(pngChunk("gAMA", be32(45455))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("gAMA 1.0 alone") << png(pngChunk("gAMA", be32(100000))) << int(Kind::Chromaticities) << QByteArray();
        QTest::newRow("cHRM alone") << png(adobeChrm()) << int(Kind::Chromaticities) << QByteArray();
        QTest::newRow("iCCP") << png(iccp(zlibOf(profile))) << int(Kind::Icc) << profile;
        QTest::newRow("iCCP before sRGB") << png(iccp(zlibOf(profile)) + srgbChunk) << int(Kind::Icc) << profile;
        QTest::newRow("iCCP that is not zlib") << png(iccp("not zlib at all")) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("iCCP cut short") << png(iccp(zlibOf(profile).left(100))) << int(Kind::Srgb) << QByteArray();
        QTest::newRow("iCCP inflating past the bound") << png(iccp(zlibOf(QByteArray(kMaxProfileBytes + 1, '\0'))))
                                                       << int(Kind::Srgb) << QByteArray();
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
};

QTEST_GUILESS_MAIN(TestColourSources)
#include "test_colour_sources.moc"
