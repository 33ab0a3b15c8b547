// SPDX-License-Identifier: MIT
#include "FetchPolicy.h"

#include "AgentClient.h"

namespace vantor::fetchPolicy {

using namespace Qt::StringLiterals;

namespace {

bool isWebScheme(const QString &scheme)
{
    return scheme == "http"_L1 || scheme == "https"_L1;
}

int portOf(const QUrl &u)
{
    return u.port(u.scheme() == "https"_L1 ? 443 : 80);
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() && portOf(a) == portOf(b);
}

// The same host, now encrypted: on the same port, or from one default port to the other.
bool isUpgrade(const QUrl &from, const QUrl &to)
{
    const bool defaults = from.port(80) == 80 && to.port(443) == 443;
    return from.scheme() == "http"_L1 && to.scheme() == "https"_L1 && from.host() == to.host() &&
           (defaults || (from.port() != -1 && from.port() == to.port()));
}

} // namespace

bool carriesUserInfo(const QUrl &url)
{
    // The authority shows "@" even for an empty user name, which the HTTP library would still send.
    return url.authority().contains(u'@');
}

std::variant<QUrl, QString> requestUrl(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid()) return fetchMessages::invalidAddress();
    // Local schemes never give an HTTP reply.
    if (url.scheme() == "file"_L1 || url.scheme() == "data"_L1) return fetchMessages::badResponse();
    if (!isWebScheme(url.scheme())) return fetchMessages::unsupportedScheme();
    if (url.host().isEmpty()) return fetchMessages::noHost();
    if (carriesUserInfo(url)) return fetchMessages::userInfoRefused();
    return url;
}

std::variant<QByteArray, QString> tokenHeader(const QString &token)
{
    if (token.contains(u'\r') || token.contains(u'\n') || token.contains(QChar(0)))
        return fetchMessages::unusableToken();
    if (token.isEmpty()) return QByteArray();
    // The HTTP library drops a header whose value is only blanks; the "name;" form sends it empty,
    // which is what a receiver reads from blanks anyway, since a field value never keeps its edges.
    if (token.trimmed().isEmpty()) return QByteArray("X-Monitor-Token;");
    return "X-Monitor-Token: " + token.toUtf8();
}

std::variant<QUrl, QString> redirectTarget(const QUrl &origin, const QUrl &current,
                                           const QByteArray &location, bool sendsToken, int followed)
{
    const QUrl relative(QString::fromUtf8(location));
    if (location.isEmpty() || !relative.isValid()) return fetchMessages::badResponse();
    const QUrl target = current.resolved(relative);
    const bool downgrade = current.scheme() == "https"_L1 && target.scheme() == "http"_L1;
    const bool tokenMayGo = !sendsToken || sameOrigin(origin, target) || isUpgrade(origin, target);
    if (!isWebScheme(target.scheme()) || target.host().isEmpty() || downgrade || !tokenMayGo)
        return fetchMessages::redirectRefused(target);
    if (carriesUserInfo(target)) return fetchMessages::userInfoRefused();
    if (followed >= maxRedirects) return fetchMessages::tooManyRedirects();
    return target;
}

} // namespace vantor::fetchPolicy
