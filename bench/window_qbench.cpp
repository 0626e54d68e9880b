// The main window under load, against the headless scan in the same run.
//
//   window_qbench CORPUS_FOLDER CORVEXA_SCAN [RUNS]
//
// 1. Scan the corpus folder from the window (mask "*", subfolders, no size
//    limit) and with corvexa-scan on the same folder, alternating, best of RUNS.
//    While the window scans, a 5 ms timer on its thread records the longest gap
//    between two ticks: how long the window could not answer the user.
// 2. One million findings in the results view: how long the view takes to show
//    them, to scroll to the end and back, and to switch views and remove
//    duplicates (with the longest stall of the window's thread meanwhile).
// 3. The filter above the results on those million entries: the time of each
//    keystroke, against Qt's QSortFilterProxyModel filtering the same view.
// 4. Found In on those million findings (noted during the scan): what the
//    origins cost in memory beside the findings themselves, and the time from
//    selecting an entry to the painted panel, in the URL and host views.
//
// CORPUS_FOLDER "-" skips the corpus scan (1).

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "support/find_child.h"
#include "ui/app_form.h"

using corvexa::test::Find;
using corvexa::ui::AppEnvironment;
using corvexa::ui::TAppForm;

namespace {

// The longest time the window's thread went without running its timer.
class StallProbe : public QObject {
public:
    StallProbe() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worst_ = std::max(worst_, now - last_);
            last_ = now;
        });
    }
    void Start() {
        worst_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    double StopMs() {
        timer_.stop();
        return static_cast<double>(worst_) / 1e6;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

double ScanInWindow(TAppForm& form, StallProbe& probe, double* stallMs) {
    QSignalSpy done(&form, &TAppForm::scanCompleted);
    QElapsedTimer t;
    probe.Start();
    t.start();
    Find<QPushButton>(form, "ButtonStart")->click();
    if (!done.wait(600000)) qFatal("scan did not complete");
    const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    *stallMs = probe.StopMs();
    return seconds;
}

double ScanHeadless(const QString& scan, const QString& folder) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    // One reading thread, as the window has.
    p.start(scan, {QStringLiteral("--quiet"), QStringLiteral("-j1"), QStringLiteral("--mask"),
                   QStringLiteral("*"), folder});
    if (!p.waitForFinished(600000) || p.exitCode() != 0) qFatal("corvexa-scan failed");
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// Runs f, then lets the window paint, and returns the milliseconds both took.
template <typename F>
double PaintedMs(QWidget* view, F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    QCoreApplication::processEvents();
    view->repaint();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

void ScanCorpus(TAppForm& form, StallProbe& probe, const QString& corpus, const QString& scan,
                int runs);
void MillionFindings(TAppForm& form, StallProbe& probe, const QString& folder);
void Filter(TAppForm& form, QTableView* view);
void FoundIn(TAppForm& form, QTableView* view);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_qbench CORPUS_FOLDER CORVEXA_SCAN [RUNS]\n");
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const QString scan = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

    QTemporaryDir root;
    // The per-user store of this run (Found In is switched on below).
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.path() + "/store");
    QDir().mkpath(root.path() + "/exe");
    AppEnvironment env;
    env.ExecutablePath = QCoreApplication::applicationFilePath();
    env.ExecutableFolder = root.path() + "/exe/";
    env.RoamingFolder = root.path();
    env.DesktopFolder = root.path();

    auto form = std::make_unique<TAppForm>(env);
    form->show();
    QCoreApplication::processEvents();
    Find<QLineEdit>(*form, "Edit8")->setText(corpus);
    Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("*"));
    Find<QCheckBox>(*form, "CheckBox1")->setChecked(true);
    Find<QCheckBox>(*form, "CheckBox2")->setChecked(false);

    StallProbe probe;
    if (corpus != QLatin1String("-")) ScanCorpus(*form, probe, corpus, scan, runs);
    MillionFindings(*form, probe, root.path());
    return 0;
}

void ScanCorpus(TAppForm& form, StallProbe& probe, const QString& corpus, const QString& scan,
                int runs) {
    double bestWindow = 1e9, bestHeadless = 1e9, worstStall = 0;
    std::size_t found = 0, files = 0;
    ScanHeadless(scan, corpus);  // warm the page cache
    for (int i = 0; i < runs; ++i) {
        double stall = 0;
        bestWindow = std::min(bestWindow, ScanInWindow(form, probe, &stall));
        worstStall = std::max(worstStall, stall);
        bestHeadless = std::min(bestHeadless, ScanHeadless(scan, corpus));
        found = form.Lists().Urls().Size();
        files = form.Files().Size();
    }
    std::printf(
        "corpus scan, best of %d: window %.3f s, corvexa-scan %.3f s, window / headless %.3f"
        " (target <= 1.10)\n",
        runs, bestWindow, bestHeadless, bestWindow / bestHeadless);
    std::printf(
        "  %zu files, %zu findings; longest stall of the window's thread during a scan: "
        "%.1f ms\n",
        files, found, worstStall);
}

void MillionFindings(TAppForm& formRef, StallProbe& probe, const QString& folder) {
    TAppForm* form = &formRef;
    const QString big = folder + "/million.txt";
    {
        QFile f(big);
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(big));
        QByteArray chunk;
        for (int i = 0; i < 1000000; ++i) {
            chunk += "see https://www.host" + QByteArray::number(i % 50000) + ".example.com/page/" +
                     QByteArray::number(i) + " now\n";
            if (chunk.size() > (1 << 20)) {
                f.write(chunk);
                chunk.clear();
            }
        }
        f.write(chunk);
    }
    Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
    if (!Find<QAction>(*form, "FoundIn1")->isChecked()) Find<QAction>(*form, "FoundIn1")->trigger();
    form->Files().Clear();
    form->Files().Append(big.toStdU16String());
    double stall = 0;
    const double scanSeconds = ScanInWindow(*form, probe, &stall);
    auto* view = Find<QTableView>(*form, "ListView1");
    std::printf("one million findings: scanned in %.3f s (longest stall %.1f ms), rows %d\n",
                scanSeconds, stall, view->model()->rowCount());

    const double show = PaintedMs(view, [&] { view->scrollToTop(); });
    const double toEnd = PaintedMs(view, [&] { view->scrollToBottom(); });
    const double middle = PaintedMs(view, [&] {
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    });
    double pageDown = 0;
    for (int i = 0; i < 20; ++i)
        pageDown = std::max(
            pageDown, PaintedMs(view, [&] {
                view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
            }));
    std::printf(
        "  paint at top %.1f ms, jump to the end %.1f ms, to the middle %.1f ms, "
        "page down (worst of 20) %.1f ms\n",
        show, toEnd, middle, pageDown);
    FoundIn(*form, view);
    for (const char* button : {"ButtonShowHostnames", "ButtonShowDomainNames", "ButtonShowURLs"}) {
        auto* b = Find<QPushButton>(*form, button);
        probe.Start();
        const double ms = PaintedMs(view, [&] { b->click(); });
        std::printf("  %-24s %8.1f ms (rows after: %d), longest stall %.1f ms\n", button, ms,
                    view->model()->rowCount(), probe.StopMs());
    }
    Filter(*form, view);

    // Remove Duplicates on one million distinct URLs.
    form->Lists().Urls().Clear();
    for (int i = 0; i < 1000000; ++i)
        form->Lists().Urls().Append(
            (QStringLiteral("https://www.host%1.example.com/page/%2").arg(i % 50000).arg(i))
                .toStdU16String());
    Find<QPushButton>(*form, "ButtonShowURLs")->click();
    probe.Start();
    const double dedupMs =
        PaintedMs(view, [&] { Find<QPushButton>(*form, "ButtonRemoveDuplicates")->click(); });
    std::printf(
        "  Remove Duplicates, 1,000,000 distinct URLs: %.1f ms (rows after: %d); longest stall "
        "of the window's thread %.1f ms\n",
        dedupMs, view->model()->rowCount(), probe.StopMs());
}

// Each keystroke of typing and erasing a filter, in the window and through
// Qt's QSortFilterProxyModel over the same view model.
void Filter(TAppForm& form, QTableView* view) {
    const QStringList keystrokes = {"w",          "ww",          "www",        "www.",
                                    "www.h",      "www.ho",      "www.host",   "www.host4",
                                    "www.host49", "www.host499", "www.host49", "www.host4",
                                    "www.host",   "ww",          "e",          "ex"};
    auto* edit = Find<QLineEdit>(form, "FilterEdit");
    double worst = 0, total = 0;
    for (const QString& text : keystrokes) {
        const double ms = PaintedMs(view, [&] { edit->setText(text); });
        worst = std::max(worst, ms);
        total += ms;
    }
    const int shown = view->model()->rowCount();
    edit->clear();

    QSortFilterProxyModel proxy;
    proxy.setSourceModel(view->model());
    proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
    QTableView peer;
    peer.setModel(&proxy);
    peer.resize(400, 600);
    peer.show();
    double peerWorst = 0, peerTotal = 0;
    for (const QString& text : keystrokes) {
        const double ms = PaintedMs(&peer, [&] { proxy.setFilterFixedString(text); });
        peerWorst = std::max(peerWorst, ms);
        peerTotal += ms;
    }
    std::printf(
        "filter on 1,000,000 entries, %lld keystrokes: window worst %.1f ms, mean %.1f ms "
        "(target <= 100); QSortFilterProxyModel worst %.1f ms, mean %.1f ms; worst-case ratio "
        "%.2f (rows at the end: %d / %d)\n",
        static_cast<long long>(keystrokes.size()), worst,
        total / static_cast<double>(keystrokes.size()), peerWorst,
        peerTotal / static_cast<double>(keystrokes.size()), worst / peerWorst, shown,
        proxy.rowCount());
}

// Selecting an entry with Found In on: the time until the panel is painted
// with its places, in the URL view (one place each) and the host view (20
// places each), and the memory the origins take beside the findings.
void FoundIn(TAppForm& form, QTableView* view) {
    const corvexa::SharedList& urls = form.Lists().Urls();
    std::printf(
        "Found In on %zu findings: origins %.1f MB beside the findings' %.1f MB (%.2f bytes a "
        "finding)\n",
        urls.Size(), static_cast<double>(form.Origins().MemoryUsage()) / 1e6,
        static_cast<double>(urls.MemoryUsage()) / 1e6,
        static_cast<double>(form.Origins().MemoryUsage()) / static_cast<double>(urls.Size()));
    auto* panel = Find<QWidget>(form, "FoundInPanel");
    auto* list = Find<QListWidget>(form, "FoundInList");
    for (const char* button : {"ButtonShowURLs", "ButtonShowHostnames"}) {
        Find<QPushButton>(form, button)->click();
        double worst = 0, total = 0;
        const int rows[] = {0, 1, 499999, 999998, 999999, 12345, 777777, 250000};
        for (int row : rows) {
            const double ms = PaintedMs(panel, [&] {
                view->selectionModel()->setCurrentIndex(
                    view->model()->index(row, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            });
            worst = std::max(worst, ms);
            total += ms;
        }
        std::printf(
            "  select and show the places, %s view, %zu selections: worst %.1f ms, mean "
            "%.1f ms (places listed at the end: %d)\n",
            button[10] == 'U' ? "URL" : "host", std::size(rows), worst,
            total / static_cast<double>(std::size(rows)), list->count());
    }
    Find<QPushButton>(form, "ButtonShowURLs")->click();
}
