#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>
#include <random>
#include <vector>

namespace corvexa::ui {

// The about window's background: columns of letters falling through a grid of
// 8 x 12 pixel cells, drawn into an offscreen image that the window paints.
//
// Set-up makes two drops per column (5000 at most), each at a random row with a
// random step divisor (1 to 3) and brightness (0 to 99). Every step draws each
// drop: a random letter of the word in the head colour in its cell and in the
// trail colour one row up, and the cell 40 rows above cleared to black; a drop
// whose divisor divides the step counter then moves one row down, and restarts
// at the top with a new divisor and brightness once it is past the last row + 1.
class MatrixRain {
public:
    static constexpr int kCharWidth = 8;
    static constexpr int kCharHeight = 12;
    static constexpr int kMaxDrops = 5000;
    static constexpr int kClearRowsAbove = 40;

    struct Drop {
        int Column = 0;
        int Row = 0;
        int Divisor = 1;     // 1 to 3
        int Brightness = 0;  // 0 to 99
        QChar Letter;        // the letter drawn last
    };

    explicit MatrixRain(const QString& word = QStringLiteral("kel"),
                        std::uint32_t seed = std::random_device{}());

    // Takes the size the animation covers (logical pixels) once; later set-ups
    // (a resize, a new pixel ratio) keep it.
    void Start(int bitmapWidth, int bitmapHeight, qreal pixelRatio);
    // Clears the image to black and makes the drops anew.
    void SetUp(qreal pixelRatio);
    // One timer step: every drop drawn (and moved), then the step counter grows.
    void Step();

    // The image, at the pixel ratio of the last set-up (logical size bitmapWidth x bitmapHeight).
    const QImage& Image() const { return image_; }
    int MatrixWidth() const { return matrixWidth_; }
    int MatrixHeight() const { return matrixHeight_; }
    int StepCounter() const { return step_; }
    qreal PixelRatio() const { return ratio_; }
    const std::vector<Drop>& Drops() const { return drops_; }
    std::vector<Drop>& DropsForTesting() { return drops_; }

    // Colours of a drop of brightness 0 to 99: b = brightness * 255 div 100, head
    // (b * 150 div 255, b, b * 100 div 255); the trail the same of b div 3.
    static QRgb HeadColour(int brightness);
    static QRgb TrailColour(int brightness);

private:
    void DrawDrop(Drop& drop);
    void ClearCell(int column, int row);
    void PutLetter(int column, int row, QChar letter, QRgb colour);
    const QImage& Glyph(QChar letter, QRgb colour);
    int RandomDivisor() { return std::uniform_int_distribution<int>(1, 3)(random_); }
    int RandomBrightness() { return std::uniform_int_distribution<int>(0, 99)(random_); }

    QString word_;
    std::mt19937 random_;
    int bitmapWidth_ = 0, bitmapHeight_ = 0;
    int matrixWidth_ = 0, matrixHeight_ = 0;
    int step_ = 0;
    qreal ratio_ = 1.0;
    int cellW_ = kCharWidth, cellH_ = kCharHeight;  // device pixels
    std::vector<Drop> drops_;
    QImage image_;
    QFont font_;
    QHash<quint64, QImage> glyphs_;  // letter and colour -> one opaque cell
};

}  // namespace corvexa::ui
