#include "ui/test_seams.h"

#include "i18n/translated_dialog.h"

namespace corvexa::ui {

void TestSeams::AnswerDialogs(ModalHook hook) { SetModalHookForTesting(std::move(hook)); }

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

void TestSeams::ResetAll() {
    SetModalHookForTesting({});
    i18n::SetDialogHookForTesting({});
    platform::ResetWindowsVersionForTesting();
    platform::SetStarterForTesting({});
    platform::SetUrlOpenerForTesting({});
}

}  // namespace corvexa::ui
