#include "net/feedback.h"

namespace corvexa::net {

namespace {

// Trimmed of leading and trailing spaces and control characters.
QString TrimControls(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() <= 0x20) ++first;
    while (last > first && text[last - 1].unicode() <= 0x20) --last;
    return text.mid(first, last - first);
}

}  // namespace

RequestFields FeedbackFields(const QString& productTitle, const QString& versionText,
                             const QString& feedback, const QString& email) {
    RequestFields fields{QStringLiteral("cmd=feedback"), QStringLiteral("appname=") + productTitle,
                         QStringLiteral("version=") + versionText,
                         QStringLiteral("feedback=") + feedback};
    if (!email.isEmpty()) fields << QStringLiteral("email=") + email;
    return fields;
}

bool DeliverFeedback(const RequestFields& fields, int timeoutMs, const Cancellation* cancel) {
    try {
        const Exchange exchange = PostToMaker(kFeedbackPath, fields, timeoutMs, cancel);
        return exchange.reply && TrimControls(*exchange.reply) == QStringLiteral("OK");
    } catch (...) {
        return false;
    }
}

}  // namespace corvexa::net
