#pragma once

#include "model/ServerNode.h"
#include "model/Snapshot.h"

#include <QString>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QObject;

namespace vantor {

// Limits of one agent request. The defaults are the product's; tests pass shorter ones.
struct FetchLimits {
    int stallTimeoutMs = 5000;             // no progress for this long ends the request
    int deadlineMs = 30000;                // overall limit, so a trickling agent cannot hold a cycle
    qint64 maxBodyBytes = 8 * 1024 * 1024; // a larger reply fails the node
};

// The outcome of polling one agent: exactly one of reading and message is normally present.
struct FetchResult {
    QString nodeId;
    std::optional<MetricsSnapshot> reading;
    std::optional<QString> message;
    std::optional<int> httpStatus; // the final reply's status, when a failed poll got that far
};

// The HTTP client every poll goes through, made on first use and owned by the application object.
QNetworkAccessManager &agentNetwork();

// Polls one agent: GET of its address, the X-Monitor-Token header for a non-empty token, the limits
// above. `done` is called exactly once, from the event loop and never from inside this call, unless
// `context` is destroyed first; then the request is aborted and `done` is never called.
void fetch(const ServerNode &node, const FetchLimits &limits, QObject *context,
           std::function<void(const FetchResult &)> done);

// Fixed texts of failed polls. The others come from the HTTP client or the reply decoder.
namespace fetchMessages {
QString invalidAddress(); // the address is not a URL
QString badResponse();    // not an HTTP reply, or a status outside 200 to 299
QString noConnection();   // a failed result that carries no text of its own
QString unusableToken();  // the token cannot be sent in an HTTP header
QString bodyTooLarge(qint64 limitBytes);
QString deadlinePassed(int deadlineMs);
QString redirectRefused(const QUrl &target);
QString tooManyRedirects();
} // namespace fetchMessages

} // namespace vantor
