#include "AgentClient.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace vantor {

using namespace Qt::StringLiterals;

namespace fetchMessages {

QString invalidAddress()
{
    return u"地址格式无效"_s;
}
QString badResponse()
{
    return u"HTTP 响应异常"_s;
}
QString noConnection()
{
    return u"无法连接 agent"_s;
}
QString unusableToken()
{
    return u"令牌含有不能放入 HTTP 头的字符"_s;
}

QString bodyTooLarge(qint64 limitBytes)
{
    constexpr qint64 mib = 1024 * 1024;
    const QString limit = limitBytes % mib == 0 ? QString::number(limitBytes / mib) + u" MiB "_s
                                                : QString::number(limitBytes) + u" 字节"_s;
    return u"agent 响应超过 "_s + limit + u"上限"_s;
}

QString deadlinePassed(int deadlineMs)
{
    return u"agent 未在 "_s + QString::number(deadlineMs / 1000.0) + u" 秒内完成响应"_s;
}

QString tooManyRedirects()
{
    return u"agent 重定向次数过多"_s;
}

QString redirectRefused(const QUrl &target)
{
    return u"agent 重定向到其他来源 "_s +
           target.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
               .toString() +
           u"，为保护令牌未跟随"_s;
}

} // namespace fetchMessages

QNetworkAccessManager &agentNetwork()
{
    static QPointer<QNetworkAccessManager> network;
    if (!network) network = new QNetworkAccessManager(QCoreApplication::instance());
    return *network;
}

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

constexpr int maxRedirects = 50; // as many as the client itself would follow

bool isSuccess(const QVariant &status)
{
    return status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
}

bool isWebScheme(const QString &scheme)
{
    return scheme == "http"_L1 || scheme == "https"_L1;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto port = [](const QUrl &u) { return u.port(u.scheme() == "https"_L1 ? 443 : 80); };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}

// One request in flight. Owned by the caller's context object, so the context's death aborts it.
class AgentFetch : public QObject
{
public:
    AgentFetch(const ServerNode &node, const FetchLimits &limits,
               std::function<void(const FetchResult &)> done, QObject *parent)
        : QObject(parent), m_node(node), m_limits(limits), m_done(std::move(done))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this,
                [this] { fail(fetchMessages::deadlinePassed(m_limits.deadlineMs)); });
    }

    ~AgentFetch() override { dropReply(); }

    void start();

private:
    void send(const QUrl &url);
    bool followRedirect();
    void onData();
    void onFinished();
    void fail(const QString &message);
    void decode();
    void deliver(FetchResult result);
    void dropReply();
    std::optional<FetchResult> refusal();

    ServerNode m_node;
    FetchLimits m_limits;
    std::function<void(const FetchResult &)> m_done;
    QPointer<QNetworkReply> m_reply;
    QUrl m_origin;
    int m_redirects = 0;
    QByteArray m_body;
    QTimer m_deadline;
    std::optional<QString> m_failure;
    bool m_delivered = false;
};

void AgentFetch::start()
{
    const QUrl url(m_node.address, QUrl::StrictMode);
    if (m_node.address.isEmpty() || !url.isValid()) {
        deliver({m_node.id, std::nullopt, fetchMessages::invalidAddress()});
        return;
    }
    // Schemes the client serves from this machine never give an HTTP reply; skip reading them.
    if (!isWebScheme(url.scheme()) && agentNetwork().supportedSchemes().contains(url.scheme())) {
        deliver({m_node.id, std::nullopt, fetchMessages::badResponse()});
        return;
    }
    if (m_node.token.contains(u'\r') || m_node.token.contains(u'\n') || m_node.token.contains(QChar(0))) {
        deliver({m_node.id, std::nullopt, fetchMessages::unusableToken()});
        return;
    }

    m_origin = url;
    send(url);
    m_deadline.start(m_limits.deadlineMs);
}

void AgentFetch::send(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(m_limits.stallTimeoutMs);
    // Redirects are followed here, hop by hop, so that the token never leaves the origin it was meant
    // for. (The client's user-verified policy is not used: from the second hop on, Qt 6.4 sends
    // duplicate requests and ends the reply with no status and no error.)
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!m_node.token.isEmpty()) request.setRawHeader("X-Monitor-Token", m_node.token.toUtf8());

    m_reply = agentNetwork().get(request);
    // Back-pressure: the client stops reading the socket while this much is waiting for us, so an
    // endless body cannot pile up in memory between two checks of its size.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (isSuccess(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute)) && length.isValid() &&
            length.toLongLong() > m_limits.maxBodyBytes)
            fail(fetchMessages::bodyTooLarge(m_limits.maxBodyBytes));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &AgentFetch::onData);
    connect(m_reply, &QNetworkReply::finished, this, &AgentFetch::onFinished);
}

// True when the finished reply redirects and its target has been requested; a refused or endless
// redirect becomes the fetch's failure.
bool AgentFetch::followRedirect()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    // The typed Location header drops relative targets, which are the usual kind.
    const QUrl location(QString::fromUtf8(m_reply->rawHeader("Location")));
    if (m_failure || m_reply->error() != QNetworkReply::NoError || !redirect || location.isEmpty() ||
        !location.isValid())
        return false;

    const QUrl target = m_reply->url().resolved(location);
    const bool downgrade = m_origin.scheme() == "https"_L1 && target.scheme() == "http"_L1;
    const bool followable = isWebScheme(target.scheme()) && !downgrade;
    if (!followable || (!sameOrigin(m_origin, target) && !m_node.token.isEmpty())) {
        m_failure = fetchMessages::redirectRefused(target);
        return false;
    }
    if (++m_redirects > maxRedirects) {
        m_failure = fetchMessages::tooManyRedirects();
        return false;
    }
    dropReply();
    send(target);
    return true;
}

void AgentFetch::onData()
{
    const QByteArray chunk = m_reply->readAll();
    // The body of a refused status is never looked at, so it is not kept either.
    if (!isSuccess(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute))) return;
    m_body += chunk;
    if (m_body.size() > m_limits.maxBodyBytes) fail(fetchMessages::bodyTooLarge(m_limits.maxBodyBytes));
}

// The failed result of a finished reply, or nothing when its body is complete and waits for decoding.
std::optional<FetchResult> AgentFetch::refusal()
{
    if (m_failure) return FetchResult{m_node.id, std::nullopt, m_failure};
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A transport failure after a good status line (closed or stalled mid-body) is still a failure
    // to receive the reply; a refused status wins over the error the client derives from it.
    if (m_reply->error() != QNetworkReply::NoError && (!status.isValid() || isSuccess(status)))
        return FetchResult{m_node.id, std::nullopt, m_reply->errorString()};
    if (!isSuccess(status))
        return FetchResult{m_node.id, std::nullopt, fetchMessages::badResponse(),
                           status.isValid() ? std::optional(status.toInt()) : std::nullopt};

    m_body += m_reply->readAll();
    if (m_body.size() > m_limits.maxBodyBytes)
        return FetchResult{m_node.id, std::nullopt, fetchMessages::bodyTooLarge(m_limits.maxBodyBytes)};
    return std::nullopt;
}

void AgentFetch::onFinished()
{
    if (m_delivered || !m_reply || followRedirect()) return;
    m_deadline.stop();
    std::optional<FetchResult> failed = refusal();
    dropReply();
    if (failed)
        deliver(std::move(*failed));
    else
        decode();
}

// A body near the size limit takes about a tenth of a second to decode, too long for the event loop
// to stand still, so decoding runs on a pool thread. Only the finished value comes back here; the
// watcher is our child, so a fetch released meanwhile never hears of it.
void AgentFetch::decode()
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
    decodePool().start([promise, body = std::exchange(m_body, {})] {
        promise->start();
        promise->addResult(decodeSnapshot(body));
        promise->finish();
    });
}

void AgentFetch::fail(const QString &message)
{
    if (m_delivered || m_failure || !m_reply) return;
    m_failure = message;
    m_reply->abort(); // normally finishes the reply at once; onFinished covers it if not
    onFinished();
}

void AgentFetch::deliver(FetchResult result)
{
    m_delivered = true;
    m_body.clear();
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result)] {
            auto done = std::move(m_done);
            deleteLater();
            done(result);
        },
        Qt::QueuedConnection);
}

void AgentFetch::dropReply()
{
    if (!m_reply) return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning()) reply->abort();
    reply->deleteLater();
}

} // namespace

void fetch(const ServerNode &node, const FetchLimits &limits, QObject *context,
           std::function<void(const FetchResult &)> done)
{
    (new AgentFetch(node, limits, std::move(done), context))->start();
}

} // namespace vantor
