// The settings file parser, in memory (no file is read, written or deleted).
// What it writes back reads back the same, and is written the same again.
#include <QString>

#include "fuzz_input.h"
#include "ui/settings/ini_store.h"

using corvexa::ui::IniStore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IniStore store;
    if (!store.ParseBytes(
            QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))))
        return 0;
    const QByteArray written = store.Serialize();
    IniStore again;
    corvexa::fuzz::Check(again.ParseBytes(written), "the written file is not valid UTF-8");
    corvexa::fuzz::Check(again.Serialize() == written, "the written file reads back differently",
                         written.toStdString());
    for (const char* key : {"MemoryStream", "DetectEMail", "PdfProcessing", "", "="}) {
        const QString k = QString::fromLatin1(key);
        corvexa::fuzz::Check(
            store.Contains(k) == again.Contains(k) && store.Value(k) == again.Value(k),
            "a value changed on the way through the file");
    }
    return 0;
}
