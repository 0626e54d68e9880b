#pragma once

// What the Qt window tests share: finding a window's controls by name, small
// files written and read back, a catcher for the addresses the windows hand to
// the browser, and the surroundings of a window under test with the fixture
// that makes them for each test function.

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "support/find_child.h"
#include "ui/app_form.h"
#include "ui/test_seams.h"

namespace corvexa::test {

// The file's bytes; empty when it cannot be read.
QByteArray ReadAll(const QString& path);
// Writes the file whole, making its folder first; a failure fails the test.
void WriteAll(const QString& path, const QByteArray& bytes);
// The same for a file whose name is given as bytes (they need not be UTF-8);
// its folder must exist.
void WriteAllNative(const QByteArray& path, const QByteArray& bytes);

// The main window, shown and exposed.
std::unique_ptr<ui::TAppForm> ShowForm(const ui::AppEnvironment& env);
// Clicks START and returns once the scan has ended.
void ScanToEnd(ui::TAppForm& form);
// The addresses in the window's URL list, in order.
QStringList FoundUrls(ui::TAppForm& form);

// Holds a scan as the n-th file (counting from 1) is handed to the reader,
// until the test lets it go: hand Pass to TestSeams::GateScanFiles. The
// collector thread waits here; the window's thread is never held.
class FileGate {
public:
    explicit FileGate(int holdAt) : holdAt_(holdAt) {}
    ~FileGate() { Release(); }
    FileGate(const FileGate&) = delete;
    FileGate& operator=(const FileGate&) = delete;

    int HoldAt() const { return holdAt_; }
    void Pass();
    // Returns once the collector stands at the gate.
    void WaitUntilHeld();
    void Release();

private:
    const int holdAt_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int seen_ = 0;
    bool held_ = false;
    bool released_ = false;
};

// Receives the addresses a window opens (register it with
// QDesktopServices::setUrlHandler).
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// A window's surroundings for one test: a temporary root with the folders the
// window's environment names (exe/, roaming/, Desktop/, home/), the per-user
// store (QSettings) in root/store, and the test seams, which put every hook
// back when the environment goes away.
class WindowEnvironment {
public:
    WindowEnvironment();
    WindowEnvironment(const WindowEnvironment&) = delete;
    WindowEnvironment& operator=(const WindowEnvironment&) = delete;

    bool IsValid() const { return root_.isValid(); }
    QString Root() const { return root_.path() + QLatin1Char('/'); }

private:
    QTemporaryDir root_;

public:
    ui::AppEnvironment env;
    ui::TestSeams seams;
};

// What a window test class sets up for each test function: a fresh
// WindowEnvironment whose dialogs are all rejected until the test answers
// them otherwise. Start it from the class's init() and Stop it from cleanup().
class WindowFixture {
public:
    // False when the environment's temporary root cannot be made.
    bool Start() {
        window_ = std::make_unique<WindowEnvironment>();
        window_->seams.AnswerDialogs([](QDialog* d) { d->reject(); });
        return window_->IsValid();
    }
    void Stop() { window_.reset(); }

    WindowEnvironment& Window() const { return *window_; }
    const ui::AppEnvironment& Env() const { return window_->env; }
    QString Root() const { return window_->Root(); }

private:
    std::unique_ptr<WindowEnvironment> window_;
};

}  // namespace corvexa::test
