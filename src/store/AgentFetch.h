// SPDX-License-Identifier: MIT
#pragma once

#include "AgentClient.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <variant>

namespace vantor {

class FetchTransport;
struct HttpReply;

// One poll of one agent: the address and token rules, the hops of redirects under the overall
// deadline, each through a FetchTransport, and the decode of a good reply into a reading. Owned by
// the caller's context object, so the context's death aborts it.
class AgentFetch : public QObject
{
    Q_OBJECT
public:
    AgentFetch(const ServerNode &node, const FetchLimits &limits,
               std::function<void(const FetchResult &)> done, QObject *parent);
    ~AgentFetch() override;

    void start();

private:
    void send(const QUrl &url);
    void received(const std::variant<HttpReply, QString> &outcome);
    void decode(QByteArray body);
    void fail(const QString &message, std::optional<int> httpStatus = std::nullopt);
    void deliver(FetchResult result);

    ServerNode m_node;
    FetchLimits m_limits;
    std::function<void(const FetchResult &)> m_done;
    QByteArray m_tokenHeader;
    QUrl m_origin, m_url;
    int m_redirects = 0;
    QTimer m_deadline;
    FetchTransport *m_transport = nullptr; // the hop under way, a child
    bool m_delivered = false;
};

} // namespace vantor
