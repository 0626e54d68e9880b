// The about window's falling letters: what they cost while the window is open.
//
//   about_qbench [SECONDS]
//
// 1. The real window, offscreen, left open for SECONDS (default 5) with its
//    50 ms timer running: the process's CPU time per second of wall time, in
//    per cent of one core, against the same window open as long with the
//    animation stopped (what the window costs anyway).
// 2. One frame: a timer step (every drop drawn into the offscreen image) plus
//    the window's repaint of the area around the content, on average; and the
//    step alone against the peer "QPainter::drawText per cell" (the plain way to
//    draw the same letters, no glyph cache), same drops, same number of steps.

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <random>

#include "ui/about_box.h"
#include "ui/matrix_rain.h"
#include "ui/widget_kit.h"

using corvexa::ui::MatrixRain;
using corvexa::ui::TAboutBox;

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop for ms and answers the CPU per cent of one core it took.
double CpuPercentFor(int ms) {
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(ms, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return 100.0 * (CpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
}

// The peer: the same drops drawn letter by letter with QPainter::drawText.
struct DrawTextRain {
    QImage image{446, 374, QImage::Format_RGB32};
    std::vector<MatrixRain::Drop> drops;
    int step = 0, rows = 374 / 12;
    std::mt19937 random{1};
    QFont font = corvexa::ui::PixelFont(12);

    void Step() {
        QPainter p(&image);
        p.setFont(font);
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(Qt::black);
        const QString word = QStringLiteral("kel");
        for (auto& d : drops) {
            d.Letter = word.at(std::uniform_int_distribution<int>(0, 2)(random));
            int above = d.Row - 40;
            while (above < 0) above += rows + 1;
            p.fillRect(d.Column * 8, above * 12, 8, 12, Qt::black);
            if (d.Row > 0) {
                p.setPen(QColor(MatrixRain::TrailColour(d.Brightness)));
                p.drawText(d.Column * 8, (d.Row - 1) * 12 + p.fontMetrics().ascent(),
                           QString(d.Letter));
            }
            p.setPen(QColor(MatrixRain::HeadColour(d.Brightness)));
            p.drawText(d.Column * 8, d.Row * 12 + p.fontMetrics().ascent(), QString(d.Letter));
            if (step % d.Divisor == 0 && ++d.Row > rows + 1) d.Row = 0;
        }
        ++step;
    }
};

template <typename F>
double MicrosecondsPer(int n, F&& f) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i) f();
    return double(t.nsecsElapsed()) / 1e3 / n;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    TAboutBox box({QStringLiteral("Corvexa"), QStringLiteral("1.0"), QString()});
    box.show();
    QTimer* rainTimer = box.findChild<QTimer*>(QStringLiteral("tmTimer"));
    CpuPercentFor(500);  // settle: fonts, glyphs, first paints
    const double running = CpuPercentFor(seconds * 1000);
    rainTimer->stop();
    const double still = CpuPercentFor(seconds * 1000);
    std::printf("window open %d s, animation running: %6.2f %% of one core\n", seconds, running);
    std::printf("window open %d s, animation stopped: %6.2f %% of one core\n", seconds, still);
    std::printf("the animation's share:               %6.2f %% of one core  (target < 2)\n",
                running - still);

    const int frames = 2000;
    const double frame = MicrosecondsPer(frames, [&] {
        QMetaObject::invokeMethod(rainTimer, "timeout", Qt::DirectConnection);
        box.repaint();
    });
    MatrixRain rain(QStringLiteral("kel"), 1);
    rain.Start(446, 374, 1.0);
    DrawTextRain peer;
    peer.image.fill(Qt::black);
    peer.drops = rain.Drops();
    const double ours = MicrosecondsPer(frames, [&] { rain.Step(); });
    const double plain = MicrosecondsPer(frames, [&] { peer.Step(); });
    std::printf("one frame (step + repaint of the window): %7.1f us\n", frame);
    std::printf("one step, cached glyphs copied:           %7.1f us\n", ours);
    std::printf("one step, QPainter::drawText per cell:    %7.1f us  (peer)\n", plain);
    std::printf("drawText per cell / cached glyphs:        %7.2fx\n", plain / ours);
    return 0;
}
