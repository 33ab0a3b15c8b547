// SPDX-License-Identifier: MIT
#include "AgentFetch.h"

#include "FetchPolicy.h"
#include "FetchTransport.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <utility>

namespace vantor {

namespace {

// The one thread that decodes replies. A large reading lies thinly spread over the heap of the
// thread that built it; with one thread, each cycle reuses that heap instead of starting another.
QThreadPool &decodePool()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
    }
    return *pool;
}

} // namespace

AgentFetch::AgentFetch(const ServerNode &node, const FetchLimits &limits,
                       std::function<void(const FetchResult &)> done, QObject *parent)
    : QObject(parent), m_node(node), m_limits(limits), m_done(std::move(done))
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer); // a coarse one may end the poll before its deadline
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { fail(fetchMessages::deadlinePassed(m_limits.deadlineMs)); });
}

AgentFetch::~AgentFetch() = default; // the transport, a child, aborts its transfer as it goes

void AgentFetch::start()
{
    const auto url = fetchPolicy::requestUrl(m_node.address);
    if (const auto *refused = std::get_if<QString>(&url)) return fail(*refused);
    const auto header = fetchPolicy::tokenHeader(m_node.token);
    if (const auto *refused = std::get_if<QString>(&header)) return fail(*refused);
    m_tokenHeader = std::get<QByteArray>(header);
    m_origin = std::get<QUrl>(url);
    m_deadline.start(m_limits.deadlineMs);
    send(m_origin);
}

// One hop, on a transport of its own, so that every hop starts with a fresh quiet limit.
void AgentFetch::send(const QUrl &url)
{
    m_url = url;
    m_transport = new FetchTransport(
        m_limits, [this](const FetchTransport::Outcome &outcome) { received(outcome); }, this);
    if (const auto failed = m_transport->get(url, m_tokenHeader)) fail(*failed);
}

void AgentFetch::received(const std::variant<HttpReply, QString> &outcome)
{
    // Called from inside the transport, which goes once it has returned.
    std::exchange(m_transport, nullptr)->deleteLater();
    if (const auto *failed = std::get_if<QString>(&outcome)) return fail(*failed);
    const HttpReply &reply = std::get<HttpReply>(outcome);
    if (fetchPolicy::isRedirect(reply.status) && !reply.location.isEmpty()) {
        const auto target = fetchPolicy::redirectTarget(m_origin, m_url, reply.location,
                                                        !m_tokenHeader.isEmpty(), m_redirects);
        if (const auto *refused = std::get_if<QString>(&target)) return fail(*refused);
        ++m_redirects;
        return send(std::get<QUrl>(target));
    }
    if (!fetchPolicy::isSuccess(reply.status)) return fail(fetchMessages::badResponse(), int(reply.status));
    m_deadline.stop();
    decode(reply.body);
}

// A body near the size limit takes a while to decode, too long for the event loop to stand still,
// so decoding runs on a pool thread. Only the finished value comes back here; the watcher is our
// child, so a fetch released meanwhile never hears of it.
void AgentFetch::decode(QByteArray body)
{
    using Decoded = std::variant<MetricsSnapshot, QString>;
    auto promise = std::make_shared<QPromise<Decoded>>();
    auto *watcher = new QFutureWatcher<Decoded>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        Decoded decoded = watcher->result();
        if (auto *reading = std::get_if<MetricsSnapshot>(&decoded))
            deliver({m_node.id, std::move(*reading), {}});
        else
            deliver({m_node.id, std::nullopt, std::get<QString>(std::move(decoded))});
    });
    watcher->setFuture(promise->future());
    decodePool().start([promise, body = std::move(body)] {
        promise->start();
        promise->addResult(decodeSnapshot(body));
        promise->finish();
    });
}

void AgentFetch::fail(const QString &message, std::optional<int> httpStatus)
{
    if (m_delivered) return;
    delete std::exchange(m_transport, nullptr); // aborts a hop under way
    deliver({m_node.id, std::nullopt, message, httpStatus});
}

// `done` always runs from the event loop, never inside fetch() or a libcurl callback.
void AgentFetch::deliver(FetchResult result)
{
    m_delivered = true;
    m_deadline.stop();
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result)] {
            auto done = std::move(m_done);
            deleteLater();
            done(result);
        },
        Qt::QueuedConnection);
}

} // namespace vantor
