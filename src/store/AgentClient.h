// SPDX-License-Identifier: MIT
#pragma once

#include "model/ServerNode.h"
#include "model/Snapshot.h"

#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace vantor {

// Limits of one agent request. The defaults are the product's; tests pass shorter ones.
struct FetchLimits {
    int stallTimeoutMs = 5000; // no byte received or sent for this long ends the request
    // Overall limit, redirects included, well inside one refresh period, so that a trickling agent
    // can never stretch the other nodes' cadence.
    int deadlineMs = 8000;
    qint64 maxBodyBytes = 8 * 1024 * 1024; // a larger reply fails the node, whatever its status
    qint64 maxHeaderBytes = 64 * 1024;     // status lines and headers of the reply, in all
    // Certificate authorities to trust instead of the system's, for tests with a throw-away CA.
    // Empty: the system trust store. Peer verification itself is never switched off.
    QString caFile;
};

// The outcome of polling one agent: exactly one of reading and message is normally present.
struct FetchResult {
    QString nodeId;
    std::optional<MetricsSnapshot> reading;
    std::optional<QString> message;
    std::optional<int> httpStatus; // the final reply's status, when a failed poll got that far
};

// Polls one agent through libcurl: one GET of its address, the X-Monitor-Token header for a non-empty
// token, no retries, no compression, http and https only, redirects followed hop by hop under the
// token rules, the limits above. `done` is called exactly once, from the event loop and never from
// inside this call, unless `context` is destroyed first; then the request is aborted and `done` is
// never called. Call it on the thread that made the application object.
void fetch(const ServerNode &node, const FetchLimits &limits, QObject *context,
           std::function<void(const FetchResult &)> done);

// Texts of failed polls, the console's own whatever HTTP library version is installed. Only the
// JSON reader's texts and the detail after the TLS texts' colon come from a library.
namespace fetchMessages {
QString invalidAddress();    // the address is not a URL
QString unsupportedScheme(); // a URL, but neither http nor https
QString noHost();            // an http or https URL without a host
QString userInfoRefused();   // the address carries user:password@
QString badResponse();       // not an HTTP reply, or a status outside 200 to 299
QString noConnection();      // a failed result that carries no text of its own
QString unusableToken();     // the token cannot be sent in an HTTP header
QString bodyTooLarge(qint64 limitBytes);
QString headersTooLarge(qint64 limitBytes);
QString stalled(int stallMs);
QString deadlinePassed(int deadlineMs);
QString redirectRefused(const QUrl &target);
QString tooManyRedirects();
QString hostNotFound();
QString connectionRefused();
QString hostUnreachable(); // any other failure to connect
QString connectionLost();  // the connection broke while the request or reply was under way
QString emptyReply();      // closed without a byte of reply
QString replyCutShort();   // closed before the announced end of the reply
QString certificateRejected(const QString &detail); // detail: the TLS library's reason
QString tlsFailed(const QString &detail);
QString clientFailed();           // the HTTP library could not set the request up
QString transferFailed(int code); // any other failure of the HTTP library, by its error number
} // namespace fetchMessages

} // namespace vantor
