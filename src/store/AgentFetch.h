// SPDX-License-Identifier: MIT
#pragma once

#include "AgentClient.h"
#include "CurlMulti.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

namespace vantor {

// One request in flight. Owned by the caller's context object, so the context's death aborts it.
class AgentFetch : public QObject, public CurlTransfer
{
public:
    AgentFetch(const ServerNode &node, const FetchLimits &limits,
               std::function<void(const FetchResult &)> done, QObject *parent)
        : QObject(parent), m_node(node), m_limits(limits), m_done(std::move(done))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this,
                [this] { fail(fetchMessages::deadlinePassed(m_limits.deadlineMs)); });
        m_stall.setSingleShot(true);
        connect(&m_stall, &QTimer::timeout, this, &AgentFetch::checkStall);
    }

    ~AgentFetch() override;

    void start();

    void socketActivity() override { m_lastActivityMs = m_clock.elapsed(); }
    void transferDone(CURLcode code) override;

private:
    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);
    std::optional<QString> refusedAddress(const QUrl &url) const;
    void send(const QUrl &url);
    bool headerLine(QByteArrayView line);
    std::optional<QString> transportFailure(CURLcode code) const;
    void followRedirect();
    void checkStall();
    void fail(const QString &message);
    void decode();
    void deliver(FetchResult result);
    void dropEasy();

    ServerNode m_node;
    FetchLimits m_limits;
    std::function<void(const FetchResult &)> m_done;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    char m_error[CURL_ERROR_SIZE] = {};
    QUrl m_origin, m_url;
    int m_redirects = 0;
    qint64 m_headerBytes = 0;
    long m_status = 0;          // of the reply whose headers were last completed
    bool m_headersDone = false; // the final reply's headers are complete
    QByteArray m_location;      // of the reply being read
    QByteArray m_body;
    QElapsedTimer m_clock;
    qint64 m_lastActivityMs = 0;
    QTimer m_deadline, m_stall;
    std::optional<QString> m_failure; // set inside libcurl's callbacks, which can only stop the transfer
    bool m_delivered = false;
};

} // namespace vantor
