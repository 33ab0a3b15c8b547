// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <variant>

namespace vantor::fetchPolicy {

// The rules an agent request follows, apart from any transport, so that each can be checked alone.

// The URL to request for a node's address, or the fixed text of why it cannot be requested at all.
std::variant<QUrl, QString> requestUrl(const QString &address);

// True when the address names a user or password (`user:password@`), which the HTTP library would
// turn into a second credential sent in clear text beside the token.
bool carriesUserInfo(const QUrl &url);

// The X-Monitor-Token header line for the token (empty for an empty token: no header is sent), or
// the fixed text of why the token cannot travel in a header.
std::variant<QByteArray, QString> tokenHeader(const QString &token);

constexpr int maxRedirects = 50;

// Where a redirect goes, or the fixed text of why it is not followed. `origin` is the configured
// address, `current` the one that answered with `location`, `followed` the hops already taken.
std::variant<QUrl, QString> redirectTarget(const QUrl &origin, const QUrl &current,
                                           const QByteArray &location, bool sendsToken, int followed);

// The only replies whose body is read and decoded.
constexpr bool isSuccess(long status)
{
    return status >= 200 && status <= 299;
}

constexpr bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace vantor::fetchPolicy
