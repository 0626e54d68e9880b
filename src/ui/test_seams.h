#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/desktop.h"
#include "ui/dialogs.h"

class QMenu;
class QMessageBox;

namespace corvexa::ui {

// The gate GateOffWindowWork sets (empty: none); the window's worker calls it.
void SetOffWindowWorkGateForTesting(std::function<void()> gate);
void PassOffWindowWorkGate();

// The gate GateScanFiles sets; the scan's bridge calls it on the collector
// thread each time a file is handed to the reader, after the window was told.
void PassScanFileGate(const std::u16string& path);

// The one way tests answer the windows' dialogs and replace their platform
// calls. An object of this class puts every seam back to the program's own
// behaviour when it is made and again when it goes away, so a test that sets
// a hook and fails half-way leaves nothing behind for the next one. A test
// fixture keeps one for the length of each test.
class TestSeams {
public:
    TestSeams() { ResetAll(); }
    ~TestSeams() { ResetAll(); }
    TestSeams(const TestSeams&) = delete;
    TestSeams& operator=(const TestSeams&) = delete;

    // Every modal dialog the windows run through ExecModal.
    void AnswerDialogs(ModalHook hook);
    // The translated confirmation dialogs.
    void AnswerTranslatedDialogs(std::function<void(QMessageBox*)> hook);
    void SetWindowsVersion(const platform::WindowsVersion& version);
    void ReplaceStarter(platform::Starter starter);
    void ReplaceUrlOpener(platform::UrlOpener opener);
    // The about box: the clock its Info button's rule reads (milliseconds), and
    // who answers its Info menu once the menu is shown.
    void SetAboutClock(std::function<std::uint32_t()> clock);
    void AnswerAboutMenu(std::function<void(QMenu*)> hook);
    // The update notice's close countdown, in seconds, which the program keeps
    // for its whole run.
    void SetNoticeCountdown(int seconds);
    // Called on the worker thread before the window's off-thread result work
    // (host names, domains, duplicate removal) begins; a test holds the worker
    // there to order it against the window's own thread.
    void GateOffWindowWork(std::function<void()> gate);
    // Called on the collector thread as each file is handed to the reader,
    // once everything before it has been posted to the window: a test holds
    // the scan there to look at the window half-way.
    void GateScanFiles(std::function<void(const std::u16string& path)> gate);

    // Every seam back to the program's own behaviour.
    static void ResetAll();
};

}  // namespace corvexa::ui
