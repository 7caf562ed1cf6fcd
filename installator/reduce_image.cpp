// reduce_image INPUT OUTPUT SIZE
// Reduces a square picture to SIZE x SIZE the way a GPU draws it with
// mipmaps and trilinear filtering: a chain of halvings by linear sampling,
// each stored at 8 bits, then the two levels around the scale blended. The
// match with Mesa's software rasteriser is within 4 of 255 per channel. The
// wizard then shows the result at its natural size, as it looked when the
// reduction was left to the first frame, without paying for it at start-up.

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Premultiplied RGBA, as textures are sampled.
struct Level {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;

    float at(int x, int y, int channel) const {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        return rgba[std::size_t((y * width + x) * 4 + channel)];
    }

    // Linear sampling at normalised coordinates, edges clamped, as texture
    // units do it: weights in steps of 1/256, each interpolation rounded.
    float sample(float u, float v, int channel) const {
        const float x = u * float(width) - 0.5f;
        const float y = v * float(height) - 0.5f;
        const int x0 = int(std::floor(x));
        const int y0 = int(std::floor(y));
        const float fx = weight(x - float(x0));
        const float fy = weight(y - float(y0));
        const float top = lerp(at(x0, y0, channel), at(x0 + 1, y0, channel), fx);
        const float bottom = lerp(at(x0, y0 + 1, channel), at(x0 + 1, y0 + 1, channel), fx);
        return lerp(top, bottom, fy);
    }

    static float weight(float fraction) { return std::floor(fraction * 256.0f) / 256.0f; }
    static float lerp(float a, float b, float w) { return std::round(a + (b - a) * w); }
};

Level halve(const Level& source) {
    Level level;
    level.width = std::max(1, source.width / 2);
    level.height = std::max(1, source.height / 2);
    for (int y = 0; y < level.height; ++y)
        for (int x = 0; x < level.width; ++x)
            for (int c = 0; c < 4; ++c)
                level.rgba.push_back(
                    std::round(source.sample((float(x) + 0.5f) / float(level.width),
                                             (float(y) + 0.5f) / float(level.height), c)));
    return level;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: reduce_image INPUT OUTPUT SIZE\n");
        return 2;
    }
    const QImage input = QImage(QString::fromLocal8Bit(argv[1]))
                             .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const int size = std::atoi(argv[3]);
    if (input.isNull() || size <= 0 || size > input.width()) {
        std::fprintf(stderr, "reduce_image: cannot reduce %s to %d\n", argv[1], size);
        return 1;
    }
    std::vector<Level> levels(1);
    levels[0].width = input.width();
    levels[0].height = input.height();
    for (int y = 0; y < input.height(); ++y) {
        const uchar* line = input.constScanLine(y);
        levels[0].rgba.insert(levels[0].rgba.end(), line, line + input.width() * 4);
    }
    while (levels.back().width > 1)
        levels.push_back(halve(levels.back()));

    // The level of detail in steps of 1/16.
    const float lod = std::floor(std::log2(float(input.width()) / float(size)) * 16.0f) / 16.0f;
    const std::size_t finer = std::min(std::size_t(lod), levels.size() - 2);
    const float blend = Level::weight(lod - float(finer));
    QImage output(size, size, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < size; ++y) {
        uchar* line = output.scanLine(y);
        for (int x = 0; x < size; ++x) {
            const float u = (float(x) + 0.5f) / float(size);
            const float v = (float(y) + 0.5f) / float(size);
            for (int c = 0; c < 4; ++c) {
                const float value = Level::lerp(levels[finer].sample(u, v, c),
                                                levels[finer + 1].sample(u, v, c), blend);
                line[x * 4 + c] = uchar(std::lround(std::clamp(value, 0.0f, 255.0f)));
            }
        }
    }
    return output.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
