#include "ui/matrix_rain.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "ui/widget_kit.h"

namespace corvexa::ui {
namespace {

QRgb RainColour(int b) {
    return qRgb(b * 150 / 255, b, b * 100 / 255);
}

}  // namespace

MatrixRain::MatrixRain(const QString& word, std::uint32_t seed) : word_(word), random_(seed) {
    if (word_.isEmpty()) word_ = QStringLiteral("kel");
}

QRgb MatrixRain::HeadColour(int brightness) {
    return RainColour(brightness * 255 / 100);
}

QRgb MatrixRain::TrailColour(int brightness) {
    return RainColour(brightness * 255 / 100 / 3);
}

void MatrixRain::Start(int bitmapWidth, int bitmapHeight, qreal pixelRatio) {
    step_ = 0;
    bitmapWidth_ = std::max(0, bitmapWidth);
    bitmapHeight_ = std::max(0, bitmapHeight);
    SetUp(pixelRatio);
}

void MatrixRain::SetUp(qreal pixelRatio) {
    ratio_ = pixelRatio > 0 ? pixelRatio : 1.0;
    cellW_ = std::max(1, qRound(kCharWidth * ratio_));
    cellH_ = std::max(1, qRound(kCharHeight * ratio_));
    image_ = QImage(std::max(1, qRound(bitmapWidth_ * ratio_)),
                    std::max(1, qRound(bitmapHeight_ * ratio_)), QImage::Format_RGB32);
    image_.fill(Qt::black);
    image_.setDevicePixelRatio(ratio_);
    font_ = PixelFont(cellH_);  // 12 px at the logical size
    glyphs_.clear();

    matrixWidth_ = bitmapWidth_ / kCharWidth;
    matrixHeight_ = bitmapHeight_ / kCharHeight;
    drops_.clear();
    if (matrixWidth_ <= 0) return;
    const int count = std::min(2 * matrixWidth_, kMaxDrops);
    drops_.reserve(count);
    for (int i = 0; i < count; ++i) {
        Drop d;
        d.Column = i % matrixWidth_;
        d.Row = matrixHeight_ > 0
                    ? std::uniform_int_distribution<int>(0, matrixHeight_ - 1)(random_)
                    : 0;
        d.Divisor = RandomDivisor();
        d.Brightness = RandomBrightness();
        drops_.push_back(d);
    }
}

void MatrixRain::Step() {
    for (Drop& d : drops_) {
        DrawDrop(d);
        if (step_ % d.Divisor != 0) continue;
        ++d.Row;
        if (d.Row > matrixHeight_ + 1) {
            d.Row = 0;
            d.Divisor = RandomDivisor();
            d.Brightness = RandomBrightness();
        }
    }
    ++step_;
}

void MatrixRain::DrawDrop(Drop& d) {
    d.Letter = word_.at(std::uniform_int_distribution<int>(0, int(word_.size()) - 1)(random_));
    int above = d.Row - kClearRowsAbove;
    while (above < 0) above += matrixHeight_ + 1;
    ClearCell(d.Column, above);
    if (d.Row > 0) PutLetter(d.Column, d.Row - 1, d.Letter, TrailColour(d.Brightness));
    PutLetter(d.Column, d.Row, d.Letter, HeadColour(d.Brightness));
}

// Cells are copied row by row into the image, clipped to it: no painter per step.
void MatrixRain::ClearCell(int column, int row) {
    const int x0 = column * cellW_, y0 = row * cellH_;
    const int x1 = std::min(x0 + cellW_, image_.width()),
              y1 = std::min(y0 + cellH_, image_.height());
    if (x0 >= x1 || y0 < 0) return;
    for (int y = y0; y < y1; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        std::fill(line + x0, line + x1, qRgb(0, 0, 0));
    }
}

void MatrixRain::PutLetter(int column, int row, QChar letter, QRgb colour) {
    const int x0 = column * cellW_, y0 = row * cellH_;
    const int x1 = std::min(x0 + cellW_, image_.width()),
              y1 = std::min(y0 + cellH_, image_.height());
    if (x0 >= x1 || y0 < 0) return;
    const QImage& glyph = Glyph(letter, colour);
    for (int y = y0; y < y1; ++y) {
        std::memcpy(image_.scanLine(y) + x0 * sizeof(QRgb), glyph.constScanLine(y - y0),
                    std::size_t(x1 - x0) * sizeof(QRgb));
    }
}

// One cell with the letter in the colour on black, made once per letter and colour.
const QImage& MatrixRain::Glyph(QChar letter, QRgb colour) {
    const quint64 key = (quint64(letter.unicode()) << 32) | (colour & 0xFFFFFFu);
    auto it = glyphs_.find(key);
    if (it != glyphs_.end()) return *it;
    QImage cell(cellW_, cellH_, QImage::Format_RGB32);
    cell.fill(Qt::black);
    QPainter p(&cell);
    p.setFont(font_);
    p.setPen(QColor(colour));
    p.drawText(QRect(0, 0, cellW_, cellH_), Qt::AlignLeft | Qt::AlignTop, QString(letter));
    p.end();
    return *glyphs_.insert(key, cell);
}

}  // namespace corvexa::ui
