#include "ui/test_seams.h"

#include <mutex>

#include "i18n/translated_dialog.h"
#include "ui/about_box.h"
#include "ui/new_version.h"

namespace corvexa::ui {

namespace {
std::mutex gateMutex;
std::function<void()>& Gate() {
    static std::function<void()> gate;
    return gate;
}
using FileGate = std::function<void(const std::u16string&)>;
FileGate& ScanFileGate() {
    static FileGate gate;
    return gate;
}
}  // namespace

void TestSeams::GateScanFiles(FileGate gate) {
    std::lock_guard lock(gateMutex);
    ScanFileGate() = std::move(gate);
}

void PassScanFileGate(const std::u16string& path) {
    FileGate gate;
    {
        std::lock_guard lock(gateMutex);
        gate = ScanFileGate();
    }
    if (gate) gate(path);
}

void SetOffWindowWorkGateForTesting(std::function<void()> gate) {
    std::lock_guard lock(gateMutex);
    Gate() = std::move(gate);
}

void PassOffWindowWorkGate() {
    std::function<void()> gate;
    {
        std::lock_guard lock(gateMutex);
        gate = Gate();
    }
    if (gate) gate();
}

void TestSeams::GateOffWindowWork(std::function<void()> gate) {
    SetOffWindowWorkGateForTesting(std::move(gate));
}

void TestSeams::AnswerDialogs(ModalHook hook) {
    SetModalHookForTesting(std::move(hook));
}

void TestSeams::AnswerTranslatedDialogs(std::function<void(QMessageBox*)> hook) {
    i18n::SetDialogHookForTesting(std::move(hook));
}

void TestSeams::SetWindowsVersion(const platform::WindowsVersion& version) {
    platform::SetWindowsVersionForTesting(version);
}

void TestSeams::ReplaceStarter(platform::Starter starter) {
    platform::SetStarterForTesting(std::move(starter));
}

void TestSeams::ReplaceUrlOpener(platform::UrlOpener opener) {
    platform::SetUrlOpenerForTesting(std::move(opener));
}

void TestSeams::SetAboutClock(std::function<std::uint32_t()> clock) {
    TAboutBox::SetClockForTesting(std::move(clock));
}

void TestSeams::AnswerAboutMenu(std::function<void(QMenu*)> hook) {
    TAboutBox::SetMenuHookForTesting(std::move(hook));
}

void TestSeams::SetNoticeCountdown(int seconds) {
    TNewVer::SetCloseCountdownForTesting(seconds);
}

void TestSeams::ResetAll() {
    SetModalHookForTesting({});
    TAboutBox::SetClockForTesting({});
    TAboutBox::SetMenuHookForTesting({});
    TNewVer::SetCloseCountdownForTesting(TNewVer::kCloseCountdownStart);
    i18n::SetDialogHookForTesting({});
    platform::ResetWindowsVersionForTesting();
    platform::SetStarterForTesting({});
    platform::SetUrlOpenerForTesting({});
    SetOffWindowWorkGateForTesting({});
    std::lock_guard lock(gateMutex);
    ScanFileGate() = {};
}

}  // namespace corvexa::ui
