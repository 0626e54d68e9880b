#include "net/update_check.h"

#include <cxxabi.h>

#include <QDate>
#include <QLocale>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "net/field_values.h"
#include "net/form_request.h"
#include "platform/product_store.h"

namespace corvexa::net {

void FailureRecord::Record(const QString& message) {
    if (message.trimmed().isEmpty()) return;
    if (!text_.isEmpty()) text_ += QStringLiteral("\r\r");
    text_ += message;
    failed_ = true;
}

void FailureRecord::Clear() {
    text_.clear();
    failed_ = false;
}

namespace {

constexpr quint16 kSeed = 0x5A3C;
constexpr quint32 kMultiplier = 52845;
constexpr quint32 kAddend = 22719;

quint16 NextKey(quint16 key, quint8 stored) {
    return static_cast<quint16>((static_cast<quint32>(key) + stored) * kMultiplier + kAddend);
}

QString TypeName(const std::exception& e) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
    return QString::fromUtf8(status == 0 && name ? name.get() : typeid(e).name());
}

// Reads the store's values; a store that could not be opened reads as empty.
struct StoreAccess {
    std::unique_ptr<platform::ProductStore> store;

    QString Text(const QString& name) const {
        try {
            return store ? store->ReadString(name) : QString();
        } catch (...) {
            return {};
        }
    }
    int Integer(const QString& name, int fallback) const {
        try {
            return store ? store->ReadInteger(name, fallback) : fallback;
        } catch (...) {
            return fallback;
        }
    }
    void Write(const QString& name, const QString& value) const {
        if (store) store->WriteString(name, value);
    }
};

// Only a different version counts, and only one that reads as a whole number once its
// dots are gone.
bool ReadsAsWholeNumber(const QString& text) {
    QString digits = text;
    digits.remove(QLatin1Char('.'));
    if (digits.isEmpty()) return false;
    const QString body = digits.startsWith(QLatin1Char('-')) ? digits.mid(1) : digits;
    if (body.isEmpty()) return false;
    for (QChar c : body)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    digits.toInt(&ok);
    return ok;
}

RequestFields CheckFields(const CheckSetup& setup, const QString& guid, int howMany,
                          FailureRecord& failures) {
    RequestFields fields{
        QStringLiteral("cmd=check"), QStringLiteral("appname=") + setup.ProductTitle,
        QStringLiteral("version=") + setup.VersionText, QStringLiteral("os=") + GetOsDescription()};
    try {
        fields << QStringLiteral("local=") + GetRequestLocale();
    } catch (...) {
        failures.Record(QStringLiteral("Error: LocaleName2 problem!"));
    }
    fields << QStringLiteral("guid=") + guid;
    try {
        fields << QStringLiteral("howmany=") + QString::number(howMany);
    } catch (...) {
        failures.Record(QStringLiteral("Error: HM variable problem!"));
    }
    return fields;
}

// Steps 11 to 15: the exchange and what a good reply changes.
void RunExchange(const CheckSetup& setup, const StoreAccess& store, const QString& guid,
                 int howMany, const QString& lastCheck, int lastCount, CheckResults& results,
                 FailureRecord& failures) {
    const RequestFields fields = CheckFields(setup, guid, howMany, failures);
    const Exchange exchange =
        PostToMaker(QStringLiteral("/php/check2.php"), fields, setup.TimeoutMs, setup.Cancel);
    if (!exchange.reply) failures.Record(QStringLiteral("HTTPS Response:\r") + exchange.error);
    const QString reply = exchange.reply.value_or(QString());
    const QStringList lines = SplitReplyLines(reply);
    if (reply.startsWith(QStringLiteral("ERROR")))
        failures.Record(QStringLiteral("INVALIDSERVERRESPONSE"));
    if (!failures.Failed()) {
        const QString status = ExtractTagValue(ReplyLine(lines, 3), QStringLiteral("result"));
        if (status != QStringLiteral("0") && status != QStringLiteral("1"))
            failures.Record(QStringLiteral("INVALIDSERVERRESPONSE"));
    }
    if (failures.Failed()) return;

    const QString today = setup.TodayText ? setup.TodayText() : TodayShortDateText();
    const int count = lastCheck == today ? lastCount + 1 : 1;
    try {
        store.Write(store_names::LastUpdateCheck, today);
        store.Write(store_names::LastUpdateCheckCount, QString::number(count));
    } catch (...) {
    }
    results.ServerVersion = ExtractTagValue(ReplyLine(lines, 0), QStringLiteral("version"));
    store.Write(store_names::CurrentVersion, results.ServerVersion);
    results.DownloadLink = ExtractTagValue(ReplyLine(lines, 1), QStringLiteral("url"));
    store.Write(store_names::CurrentURL, ScrambleUrl(results.DownloadLink));
    const QString message = ExtractTagValue(ReplyLine(lines, 5), QStringLiteral("important"));
    if (!message.trimmed().isEmpty() && setup.ShowMessage) setup.ShowMessage(message);
    results.Notice = results.ServerVersion != setup.VersionText &&
                     ReadsAsWholeNumber(results.ServerVersion) && results.ShowUpdate == 1 &&
                     count < 5;
}

}  // namespace

CheckResults RunUpdateCheck(const CheckSetup& setup, FailureRecord& failures) {
    CheckResults results;
    failures.Clear();
    QString guid;
    try {
        guid = GetMachineId();
    } catch (...) {
        failures.Record(QStringLiteral("Error: GUID generate problem!"));
    }
    StoreAccess store;
    try {
        store.store = std::make_unique<platform::ProductStore>(setup.Company, setup.Product);
    } catch (...) {
        failures.Record(QStringLiteral("Error: Registry open problem!"));
    }
    const QString lastCheck = store.Text(store_names::LastUpdateCheck);
    const int lastCount = store.Integer(store_names::LastUpdateCheckCount, 0);
    const QString installed = store.Text(store_names::InstalledVersion);

    int howMany = std::max(0, store.Integer(store_names::HowMany, 0));
    if (installed != setup.VersionText) howMany = 0;
    ++howMany;
    try {
        store.Write(store_names::HowMany, QString::number(howMany));
        store.Write(store_names::InstalledVersion, setup.VersionText);
    } catch (const std::exception& e) {
        failures.Record(TypeName(e) + QStringLiteral(" Error:\r") + QString::fromUtf8(e.what()));
    }
    const QString storedUrl = store.Text(store_names::CurrentURL);
    if (!storedUrl.isEmpty()) results.DownloadLink = UnscrambleUrl(storedUrl);
    results.ShowUpdate = store.Integer(store_names::ShowUpdate, 1);
    if (results.ShowUpdate == 0) return results;
    const QString today = setup.TodayText ? setup.TodayText() : TodayShortDateText();
    if (lastCheck == today && lastCount >= 5) return results;

    try {
        CheckSetup fixed = setup;
        fixed.TodayText = [today] { return today; };
        RunExchange(fixed, store, guid, howMany, lastCheck, lastCount, results, failures);
    } catch (const std::exception& e) {
        failures.Record(TypeName(e) + QStringLiteral(" Error:\r") + QString::fromUtf8(e.what()));
    } catch (...) {
        failures.Record(QStringLiteral("Unknown Error:\r"));
    }
    if (failures.Failed()) results.Notice = false;
    return results;
}

QString ScrambleUrl(const QString& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    quint16 key = kSeed;
    QString out;
    for (const char ch : url.toUtf8()) {
        const auto stored = static_cast<quint8>(static_cast<quint8>(ch) ^ (key >> 8));
        out += QLatin1Char(kHex[stored >> 4]);
        out += QLatin1Char(kHex[stored & 0x0F]);
        key = NextKey(key, stored);
    }
    return out;
}

QString UnscrambleUrl(const QString& stored) {
    const QString text = stored.toUpper();
    const auto digit = [](QChar c) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return c.unicode() - '0';
        if (c >= QLatin1Char('A') && c <= QLatin1Char('F')) return c.unicode() - 'A' + 10;
        return -1;
    };
    QByteArray bytes;
    quint16 key = kSeed;
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return {};
        const auto byte = static_cast<quint8>(high * 16 + low);
        bytes += static_cast<char>(byte ^ (key >> 8));
        key = NextKey(key, byte);
    }
    return QString::fromUtf8(bytes);
}

QString TodayShortDateText() {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

}  // namespace corvexa::net
