#pragma once
// Builds small Windows metafiles record by record for the WMF tests (normal and sanitized).
#include <QByteArray>
#include <QColor>
#include <QRect>
#include <QtEndian>
#include <QList>

namespace pel::test {

class WmfBuilder {
public:
    // Functions used by the tests.
    enum : quint16 {
        SaveDC = 0x001E, RestoreDC = 0x0127, SetBkMode = 0x0102, SetMapMode = 0x0103,
        SetRop2 = 0x0104, SetBkColor = 0x0201, SetTextColor = 0x0209, SetWindowOrg = 0x020B,
        SetWindowExt = 0x020C, SetViewportOrg = 0x020D, SetViewportExt = 0x020E,
        LineTo = 0x0213, MoveTo = 0x0214, SetTextAlign = 0x012E, SelectObject = 0x012D,
        DeleteObject = 0x01F0, Polygon = 0x0324, Polyline = 0x0325, IntersectClipRect = 0x0416,
        Ellipse = 0x0418, Rectangle = 0x041B, TextOut = 0x0521, PolyPolygon = 0x0538,
        ExtTextOut = 0x0A32, StretchDib = 0x0F43, DibBitBlt = 0x0940, CreatePenIndirect = 0x02FA,
        CreateFontIndirect = 0x02FB, CreateBrushIndirect = 0x02FC, CreatePalette = 0x00F7,
        DibCreatePatternBrush = 0x0142,
    };

    explicit WmfBuilder(int objects = 16) : objects_(objects) {}

    // The placeable header (bounding box in logical units, units per inch).
    WmfBuilder &placeable(QRect box, int inch)
    {
        placeable_ = true;
        box_ = box;
        inch_ = inch;
        return *this;
    }

    // A record made of 16-bit parameters (plus optional raw bytes after them).
    WmfBuilder &rec(quint16 func, const QList<int> &words, const QByteArray &tail = {})
    {
        QByteArray params;
        for (int w : words) put16(params, quint16(w));
        params += tail;
        if (params.size() % 2) params += '\0';
        put32(records_, quint32(3 + params.size() / 2));
        put16(records_, func);
        records_ += params;
        return *this;
    }
    // A record whose size field says `sizeWords` whatever follows (for hostile cases).
    WmfBuilder &rawRecord(quint32 sizeWords, quint16 func, const QByteArray &params = {})
    {
        put32(records_, sizeWords);
        put16(records_, func);
        records_ += params;
        return *this;
    }

    WmfBuilder &window(int x, int y, int w, int h)
    {
        rec(SetWindowOrg, {y, x});
        return rec(SetWindowExt, {h, w});
    }
    WmfBuilder &brush(QColor c, int style = 0, int hatch = 0)
    {
        return rec(CreateBrushIndirect, {style, c.red() | c.green() << 8, c.blue(), hatch});
    }
    WmfBuilder &pen(QColor c, int width = 0, int style = 0)
    {
        return rec(CreatePenIndirect, {style, width, 0, c.red() | c.green() << 8, c.blue()});
    }
    WmfBuilder &nullPen() { return pen(Qt::black, 0, 5); }
    // A font record: height in logical units, charset, face name.
    WmfBuilder &font(int height, int charset, const QByteArray &face = "Arial", int escapement = 0)
    {
        QByteArray tail;
        tail += char(0);  // italic
        tail += char(0);  // underline
        tail += char(0);  // strike out
        tail += char(charset);
        tail += QByteArray(4, '\0');  // precision, quality, pitch
        tail += face;
        tail += '\0';
        return rec(CreateFontIndirect, {height, 0, escapement, 0, 400}, tail);
    }
    WmfBuilder &select(int i) { return rec(SelectObject, {i}); }
    WmfBuilder &rect(int l, int t, int r, int b) { return rec(Rectangle, {b, r, t, l}); }
    WmfBuilder &textOut(int x, int y, const QByteArray &s)
    {
        QByteArray tail = s;
        if (tail.size() % 2) tail += '\0';
        put16(tail, quint16(y));
        put16(tail, quint16(x));
        return rec(TextOut, {int(s.size())}, tail);
    }
    WmfBuilder &color(quint16 func, QColor c) { return rec(func, {c.red() | c.green() << 8, c.blue()}); }

    QByteArray bytes(bool withEof = true) const
    {
        QByteArray out;
        if (placeable_) {
            put32(out, 0x9AC6CDD7);
            put16(out, 0);
            put16(out, quint16(box_.left()));
            put16(out, quint16(box_.top()));
            put16(out, quint16(box_.left() + box_.width()));
            put16(out, quint16(box_.top() + box_.height()));
            put16(out, quint16(inch_));
            put32(out, 0);
            quint16 sum = 0;
            for (int i = 0; i < 20; i += 2) sum ^= qFromLittleEndian<quint16>(out.constData() + i);
            put16(out, sum);
        }
        QByteArray recs = records_;
        if (withEof) {
            put32(recs, 3);
            put16(recs, 0);
        }
        put16(out, 1);  // memory metafile
        put16(out, 9);  // header words
        put16(out, 0x0300);
        put32(out, quint32(9 + recs.size() / 2));
        put16(out, quint16(objects_));
        put32(out, 0);
        put16(out, 0);
        return out + recs;
    }

    static void put16(QByteArray &b, quint16 v)
    {
        b += char(v & 0xFF);
        b += char(v >> 8);
    }
    static void put32(QByteArray &b, quint32 v)
    {
        put16(b, quint16(v & 0xFFFF));
        put16(b, quint16(v >> 16));
    }

private:
    int objects_;
    bool placeable_ = false;
    QRect box_;
    int inch_ = 0;
    QByteArray records_;
};

// A 2x2 24-bit DIB (BITMAPINFOHEADER + bits), bottom-up: red, green / blue, white.
inline QByteArray tinyDib()
{
    QByteArray b;
    WmfBuilder::put32(b, 40);
    WmfBuilder::put32(b, 2);
    WmfBuilder::put32(b, 2);
    WmfBuilder::put16(b, 1);
    WmfBuilder::put16(b, 24);
    for (int i = 0; i < 6; ++i) WmfBuilder::put32(b, 0);
    // bottom row first: blue, white; then top row: red, green (BGR, rows padded to 4 bytes)
    b += QByteArray::fromHex("ff0000ffffff0000");
    b += QByteArray::fromHex("0000ff00ff000000");
    return b;
}

}  // namespace pel::test
