// Paints the background photographs of the quick manual and the version window:
//   resources/form4.jpg  640 x 480, a misty lake at dawn, light and low in contrast
//                        so red, black and blue text stays readable over it;
//   resources/form3.jpg  320 x 240, a night sky over dark hills, for white and red text
//                        (the window shows its top 292 x 195 pixels, hills included).
// Everything is computed from fixed numbers (no random generator, no input files),
// so the pictures come out the same on every run.
//
//   cmake --build build --target make_help_art && build/make_help_art resources
#include <QColor>
#include <QDir>
#include <QCoreApplication>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

// ---- deterministic noise --------------------------------------------------------

std::uint32_t hash(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h = seed * 0x9E3779B1u ^ std::uint32_t(x) * 0x85EBCA77u ^ std::uint32_t(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

double rand01(std::int32_t x, std::int32_t y, std::uint32_t seed) { return hash(x, y, seed) / 4294967295.0; }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Value noise in [0, 1].
double noise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = std::int32_t(fx), iy = std::int32_t(fy);
    const double tx = smooth(x - fx), ty = smooth(y - fy);
    const double a = rand01(ix, iy, seed), b = rand01(ix + 1, iy, seed);
    const double c = rand01(ix, iy + 1, seed), d = rand01(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal sum of octaves, in about [0, 1].
double fbm(double x, double y, std::uint32_t seed, int octaves = 5)
{
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * noise(x, y, seed + std::uint32_t(i) * 101u);
        norm += amp;
        x *= 2.03;
        y *= 2.03;
        amp *= 0.5;
    }
    return sum / norm;
}

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

QRgb toRgb(Rgb c, double grain)
{
    auto ch = [grain](double v) { return int(std::clamp(std::lround(v + grain), 0L, 255L)); };
    return qRgb(ch(c.r), ch(c.g), ch(c.b));
}

// A ridge line: height (fraction of the picture height) of a hill range at x.
double ridge(double x, double base, double amplitude, double scale, std::uint32_t seed)
{
    return base - amplitude * (fbm(x * scale, 0.5, seed, 4) - 0.5) * 2.0;
}

// ---- the quick manual: a misty lake at dawn -------------------------------------

QImage dawnLake(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    const Rgb skyTop{206, 226, 244}, skyLow{253, 240, 224}, sun{255, 246, 226};
    const Rgb farHill{205, 206, 226}, nearHill{184, 198, 204}, mist{246, 240, 234};
    const double horizon = 0.60;   // the water line, as a fraction of the height
    const double sunX = 0.78, sunY = 0.38;

    auto landscape = [&](double fx, double fy) -> Rgb {
        // Sky with a warm glow round a low sun, thin clouds drifting across.
        Rgb c = mix(skyTop, skyLow, std::pow(fy / horizon, 1.3));
        const double dx = (fx - sunX) * 1.3, dy = fy - sunY;
        const double glow = std::exp(-(dx * dx + dy * dy) * 14.0);
        c = mix(c, sun, glow * 0.8);
        const double cloud = fbm(fx * 3.0 + fy * 1.5, fy * 9.0, 11);
        c = mix(c, Rgb{255, 252, 248}, std::clamp((cloud - 0.50) * 2.2, 0.0, 1.0) * 0.55 * (1.0 - fy / horizon));
        // Two ranges of hills, the far one almost lost in the haze.
        const double far = ridge(fx, horizon - 0.10, 0.07, 2.2, 23);
        if (fy > far)
            c = mix(farHill, mist, 0.35 + 0.4 * (fy - far) / (horizon - far + 1e-9));
        const double nearTop = ridge(fx + 3.7, horizon - 0.035, 0.045, 3.1, 37);
        if (fy > nearTop) {
            const double t = (fy - nearTop) / (horizon - nearTop + 1e-9);
            const double trees = fbm(fx * 60.0, fy * 20.0, 41, 3);
            c = mix(mix(nearHill, Rgb{170, 190, 192}, trees * 0.6), mist, 0.25 + 0.45 * t);
        }
        // Mist lying on the water line.
        const double band = std::exp(-std::pow((fy - horizon + 0.015) / 0.035, 2.0));
        return mix(c, mist, band * (0.55 + 0.25 * fbm(fx * 6.0, fy * 30.0, 53, 3)));
    };

    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        const double fy = (y + 0.5) / h;
        for (int x = 0; x < w; ++x) {
            const double fx = (x + 0.5) / w;
            Rgb c;
            if (fy < horizon) {
                c = landscape(fx, fy);
            } else {
                // The water mirrors the land, rippled, paler towards the shore.
                const double depth = (fy - horizon) / (1.0 - horizon);
                const double ripple = (fbm(fx * 8.0, fy * 90.0, 67, 3) - 0.5) * 0.012 * (0.3 + depth);
                const double my = std::max(0.0, 2 * horizon - fy + ripple * 0.5);
                c = landscape(std::clamp(fx + ripple, 0.0, 1.0), my);
                c = mix(c, Rgb{226, 234, 240}, 0.30 + 0.15 * depth);
                const double glint = std::exp(-std::pow((fx - sunX) / 0.05, 2.0)) *
                                     std::clamp((fbm(fx * 40.0, fy * 200.0, 71, 2) - 0.55) * 4.0, 0.0, 1.0);
                c = mix(c, Rgb{255, 250, 240}, glint * (1.0 - depth) * 0.7);
            }
            line[x] = toRgb(c, (rand01(x, y, 97) - 0.5) * 5.0);
        }
    }
    return img;
}

// ---- the version window: stars over dark hills ----------------------------------

QImage nightSky(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    const Rgb top{8, 14, 46}, low{58, 40, 92}, glowCol{120, 72, 110};
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        const double fy = (y + 0.5) / h;
        for (int x = 0; x < w; ++x) {
            const double fx = (x + 0.5) / w;
            Rgb c = mix(top, low, std::pow(fy, 1.8));
            // A faint band of the galaxy from the lower left to the upper right.
            const double d = (fy - (0.95 - 0.9 * fx)) / 0.16;
            const double band = std::exp(-d * d) * fbm(fx * 7.0, fy * 7.0, 5, 5);
            c = mix(c, Rgb{92, 96, 150}, band * 0.55);
            c = mix(c, glowCol, std::exp(-std::pow((fy - 0.70) / 0.12, 2.0)) * 0.35);
            // Stars: a few bright, many faint.
            const double s = rand01(x, y, 131);
            if (s > 0.9955) {
                const double bright = 0.35 + 0.65 * rand01(x, y, 137);
                c = mix(c, Rgb{235, 238, 255}, bright);
            }
            // Two ranges of hills, black against the sky.
            const double far = ridge(fx, 0.71, 0.06, 2.6, 151);
            if (fy > far)
                c = mix(Rgb{28, 24, 48}, Rgb{18, 16, 34}, (fy - far) * 4.0);
            const double near = ridge(fx + 5.1, 0.78, 0.05, 3.4, 163);
            if (fy > near)
                c = Rgb{8, 8, 18};
            line[x] = toRgb(c, (rand01(x, y, 173) - 0.5) * 4.0);
        }
    }
    // A crescent moon low on the right, clear of the texts.
    const double mx = w * 0.84, my = h * 0.33, r = h * 0.045;
    for (int y = int(my - 4 * r); y <= int(my + 4 * r); ++y)
        for (int x = int(mx - 4 * r); x <= int(mx + 4 * r); ++x) {
            if (x < 0 || y < 0 || x >= w || y >= h)
                continue;
            const double d1 = std::hypot(x + 0.5 - mx, y + 0.5 - my);
            const double d2 = std::hypot(x + 0.5 - mx - r * 0.45, y + 0.5 - my + r * 0.25);
            const double lit = std::clamp(r - d1 + 0.5, 0.0, 1.0) * std::clamp(d2 - r * 0.85 + 0.5, 0.0, 1.0);
            const double halo = std::exp(-std::pow(d1 / (r * 1.8), 2.0)) * 0.25;
            const QColor old(img.pixel(x, y));
            const Rgb base{double(old.red()), double(old.green()), double(old.blue())};
            img.setPixel(x, y, toRgb(mix(mix(base, Rgb{150, 150, 170}, halo), Rgb{248, 240, 214}, lit), 0));
        }
    return img;
}

bool save(const QImage &img, const QString &path)
{
    if (!img.save(path, "JPG", 90)) {
        std::fprintf(stderr, "make_help_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%d x %d)\n", qPrintable(path), img.width(), img.height());
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);   // the JPEG writer is a plugin
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources"));
    const bool ok = save(dawnLake(640, 480), out.filePath(QStringLiteral("form4.jpg"))) &&
                    save(nightSky(320, 240), out.filePath(QStringLiteral("form3.jpg")));
    return ok ? 0 : 1;
}
