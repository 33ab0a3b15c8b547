// SPDX-License-Identifier: MIT
#pragma once

#include "AgentClient.h"
#include "CurlMulti.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

namespace vantor {

// What one HTTP exchange gave back: the final reply's status and Location, and a 2xx reply's body.
struct HttpReply {
    long status = 0;
    QByteArray location;
    QByteArray body;
};

// One GET through libcurl under the size and quiet limits of FetchLimits: http and https only,
// HTTP/1.1, no proxy, no redirects of its own, peer verification always on. It knows nothing of what
// the body holds. It reports once, from the event loop, unless it is destroyed first, which aborts
// the transfer.
class FetchTransport : public QObject, public CurlTransfer
{
    Q_OBJECT
public:
    using Outcome = std::variant<HttpReply, QString>; // the reply, or the failure's text
    FetchTransport(const FetchLimits &limits, std::function<void(const Outcome &)> finished,
                   QObject *parent = nullptr);
    ~FetchTransport() override;

    // Sends the request, with `header` as an extra header line unless it is empty. On a failure to
    // set it up the text comes back at once and nothing is reported later.
    [[nodiscard]] std::optional<QString> get(const QUrl &url, const QByteArray &header);

    void socketActivity() override { m_lastActivityMs = m_clock.elapsed(); }
    void transferDone(CURLcode code) override;

private:
    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);
    bool configure(const QUrl &url);
    bool headerLine(QByteArrayView line);
    std::optional<QString> failure(CURLcode code) const;
    void checkStall();
    void finish(const Outcome &outcome);
    void dropEasy();

    FetchLimits m_limits;
    std::function<void(const Outcome &)> m_finished;
    CurlEasyHandle m_easy;
    CurlList m_headers;
    char m_error[CURL_ERROR_SIZE] = {};
    qint64 m_headerBytes = 0;
    bool m_headersDone = false; // the final reply's headers are complete
    HttpReply m_reply;          // status and location of the reply whose headers were last read
    QElapsedTimer m_clock;
    qint64 m_lastActivityMs = 0;
    QTimer m_stall;
    std::optional<QString> m_failure; // set inside libcurl's callbacks, which can only stop the transfer
};

} // namespace vantor
