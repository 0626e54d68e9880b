#pragma once

// The once-per-start update check: its state in the product store, the daily
// limit of five exchanges, the server's message and the notice decision.

#include <QString>
#include <functional>

namespace corvexa::net {

class Cancellation;

// What a check needs from the program.
struct CheckSetup {
    QString Company, Product;            // name the product store
    QString ProductTitle;                // "appname="
    QString VersionText;                 // the running version, "major.minor"
    std::function<QString()> TodayText;  // today's short date text; TodayShortDateText when empty
    std::function<void(const QString&)>
        ShowMessage;                       // the server's message; returns once the box is closed
    const Cancellation* Cancel = nullptr;  // ends a request that waits on the network
    int TimeoutMs = 10000;
};

// What the window reads once the check has completed.
struct CheckResults {
    bool Notice = false;    // show the update notice
    QString ServerVersion;  // the version of this run's successful exchange
    QString DownloadLink;   // from the stored link, replaced by the reply's
    int ShowUpdate = 1;     // the stored "ShowUpdate"
};

// The check's failures: never shown, kept for whoever looks (tests, a debugger).
class FailureRecord {
public:
    // Appends message (after two CRs when there is an earlier one) unless it is
    // empty once trimmed.
    void Record(const QString& message);
    void Clear();
    bool Failed() const { return failed_; }
    const QString& Text() const { return text_; }

private:
    QString text_;
    bool failed_ = false;
};

// Runs the check: reads and updates the store, makes at most one exchange
// (over HTTPS only) with "/php/check2.php", shows the server's message
// and decides on the notice. Failures are recorded, never thrown.
CheckResults RunUpdateCheck(const CheckSetup& setup, FailureRecord& failures);

// The stored form of the download link: the UTF-8 bytes XOR-ed with a running
// 16-bit key's high byte, as upper-case hexadecimal. The empty text stays empty.
QString ScrambleUrl(const QString& url);
// The reverse: lower or upper case accepted, an odd last digit ignored; any
// pair that is not hexadecimal gives the empty text.
QString UnscrambleUrl(const QString& stored);

// Today's date as the user's short date text.
QString TodayShortDateText();

// The values the check keeps in the product store.
namespace store_names {
inline const QString HowMany = QStringLiteral("HowMany");
inline const QString InstalledVersion = QStringLiteral("InstalledVersion");
inline const QString LastUpdateCheck = QStringLiteral("LastUpdateCheck");
inline const QString LastUpdateCheckCount = QStringLiteral("LastUpdateCheckCount");
inline const QString CurrentVersion = QStringLiteral("CurrentVersion");
inline const QString CurrentURL = QStringLiteral("CurrentURL");
inline const QString ShowUpdate = QStringLiteral("ShowUpdate");
}  // namespace store_names

}  // namespace corvexa::net
