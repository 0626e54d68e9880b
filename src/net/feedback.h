#pragma once

// The feedback exchange with the maker's web server: the fields the window
// collects, where they go and which reply means "received".

#include <QString>

#include "net/form_request.h"

namespace corvexa::net {

// The path feedback is posted to on the maker's host.
inline const QString kFeedbackPath = QStringLiteral("/php/feedback.php");
// How long a feedback exchange may wait for the connection and for the reply.
inline constexpr int kFeedbackTimeoutMs = 3000;

// "cmd=feedback", "appname=", "version=", "feedback=" and, only when email is
// not empty, "email=", in that order.
RequestFields FeedbackFields(const QString& productTitle, const QString& versionText,
                             const QString& feedback, const QString& email);

// Posts the fields to kFeedbackPath over HTTPS; true only when a reply came
// and, trimmed of spaces and control characters, is "OK". Never throws.
bool DeliverFeedback(const RequestFields& fields, int timeoutMs = kFeedbackTimeoutMs,
                     const Cancellation* cancel = nullptr);

}  // namespace corvexa::net
