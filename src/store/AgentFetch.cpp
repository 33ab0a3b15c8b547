// SPDX-License-Identifier: MIT
#include "AgentFetch.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <utility>

namespace vantor {

using namespace Qt::StringLiterals;

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

constexpr int maxRedirects = 50;

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

// The only replies whose body is read and decoded.
bool isSuccess(long status)
{
    return status >= 200 && status <= 299;
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

// The failure of an address that cannot be requested at all, in libcurl's words where it has some.
std::optional<QString> AgentFetch::refusedAddress(const QUrl &url) const
{
    // Local schemes never give an HTTP reply.
    if (url.scheme() == "file"_L1 || url.scheme() == "data"_L1) return fetchMessages::badResponse();
    if (!isWebScheme(url.scheme())) {
        // libcurl would guess http for an address without a scheme; its parser is asked without guessing.
        CURLU *parsed = curl_url();
        const CURLUcode code = curl_url_set(parsed, CURLUPART_URL, url.toEncoded().constData(), 0);
        curl_url_cleanup(parsed);
        return QString::fromUtf8(code != CURLUE_OK ? curl_url_strerror(code)
                                                   : curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
    }
    if (url.host().isEmpty()) return QString::fromUtf8(curl_url_strerror(CURLUE_NO_HOST));
    return std::nullopt;
}

AgentFetch::~AgentFetch()
{
    dropEasy();
    curl_slist_free_all(m_headers);
}

void AgentFetch::start()
{
    const QUrl url(m_node.address, QUrl::StrictMode);
    if (m_node.address.isEmpty() || !url.isValid()) {
        deliver({m_node.id, std::nullopt, fetchMessages::invalidAddress()});
        return;
    }
    if (const auto refused = refusedAddress(url)) {
        deliver({m_node.id, std::nullopt, *refused});
        return;
    }
    if (m_node.token.contains(u'\r') || m_node.token.contains(u'\n') || m_node.token.contains(QChar(0))) {
        deliver({m_node.id, std::nullopt, fetchMessages::unusableToken()});
        return;
    }
    if (!m_node.token.isEmpty()) {
        // libcurl drops a header whose value is only blanks; the "name;" form sends it empty, which
        // is what a receiver reads from blanks anyway, since a field value never keeps its edges.
        const QByteArray header = m_node.token.trimmed().isEmpty()
                                      ? QByteArray("X-Monitor-Token;")
                                      : "X-Monitor-Token: " + m_node.token.toUtf8();
        m_headers = curl_slist_append(nullptr, header.constData());
    }
    m_origin = url;
    m_clock.start();
    m_deadline.start(m_limits.deadlineMs);
    m_stall.start(m_limits.stallTimeoutMs);
    send(url);
}

void AgentFetch::send(const QUrl &url)
{
    m_url = url;
    m_headerBytes = 0;
    m_status = 0;
    m_headersDone = false;
    m_location.clear();
    m_error[0] = 0;
    m_easy = curl_easy_init();
    const auto set = [this](CURLoption option, auto value) { curl_easy_setopt(m_easy, option, value); };
    set(CURLOPT_URL, url.toEncoded(QUrl::RemoveFragment).constData());
    set(CURLOPT_PATH_AS_IS, 1L); // the address as written, dot segments too
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PROXY, ""); // no proxy from the environment: the console reads none of it
    set(CURLOPT_NOSIGNAL, 1L);
    // A poll ended during a slow name lookup leaves the lookup's thread to finish on its own instead
    // of waiting for it on the event loop.
    set(CURLOPT_QUICK_EXIT, 1L);
    // One connection per poll: a socket then belongs to one transfer, which the stall check relies on.
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_FRESH_CONNECT, 1L);
    set(CURLOPT_ERRORBUFFER, m_error);
    set(CURLOPT_HEADERFUNCTION, &AgentFetch::onHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &AgentFetch::onBody);
    set(CURLOPT_WRITEDATA, this);
    if (m_headers) set(CURLOPT_HTTPHEADER, m_headers);
    if (!m_limits.caFile.isEmpty()) set(CURLOPT_CAINFO, m_limits.caFile.toLocal8Bit().constData());
    CurlMulti::instance().add(m_easy, this);
}

size_t AgentFetch::onHeader(char *data, size_t size, size_t count, void *self)
{
    // Returning less than given stops the transfer; the reason is kept in m_failure or m_headersDone.
    return static_cast<AgentFetch *>(self)->headerLine(QByteArrayView(data, qsizetype(size * count)))
               ? size * count
               : 0;
}

// One complete header line of the reply. False stops the transfer.
bool AgentFetch::headerLine(QByteArrayView line)
{
    m_headerBytes += line.size();
    if (m_headerBytes > m_limits.maxHeaderBytes) {
        m_failure = fetchMessages::headersTooLarge(m_limits.maxHeaderBytes);
        return false;
    }
    if (line.startsWith("HTTP/")) m_location.clear(); // a new reply after an interim one
    if (line.size() > 9 && QByteArrayView(line.first(9)).compare("Location:", Qt::CaseInsensitive) == 0)
        m_location = line.sliced(9).trimmed().toByteArray();
    if (!line.trimmed().isEmpty()) return true;

    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &m_status);
    if (m_status >= 100 && m_status < 200) return true; // interim: the real reply follows
    m_headersDone = true;
    curl_off_t length = -1;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (isSuccess(m_status) && length > m_limits.maxBodyBytes)
        m_failure = fetchMessages::bodyTooLarge(m_limits.maxBodyBytes);
    // Only a good reply's body is ever read: a redirect or a refusal is decided by its status.
    return !m_failure && isSuccess(m_status);
}

size_t AgentFetch::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *fetch = static_cast<AgentFetch *>(self);
    const qsizetype bytes = qsizetype(size * count);
    if (fetch->m_body.size() + bytes > fetch->m_limits.maxBodyBytes) {
        fetch->m_failure = fetchMessages::bodyTooLarge(fetch->m_limits.maxBodyBytes);
        return 0;
    }
    fetch->m_body.append(data, bytes);
    return size * count;
}

// The failure text of a transfer that libcurl ended, or nothing when the reply was received whole.
std::optional<QString> AgentFetch::transportFailure(CURLcode code) const
{
    if (m_failure) return m_failure;
    if (code == CURLE_OK || (m_headersDone && code == CURLE_WRITE_ERROR)) return std::nullopt;
    // A reply that does not start like HTTP/1.x ("HTTP/0.9" to libcurl) or breaks its rules.
    if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL)
        return fetchMessages::badResponse();
    // libcurl's cap on one header line, below the whole head's cap when that line is longer still.
    if (code == CURLE_OUT_OF_MEMORY && !m_headersDone)
        return fetchMessages::headersTooLarge(m_limits.maxHeaderBytes);
    return QString::fromUtf8(m_error[0] ? m_error : curl_easy_strerror(code));
}

void AgentFetch::transferDone(CURLcode code)
{
    m_stall.stop();
    const std::optional<QString> failure = transportFailure(code);
    dropEasy();
    if (failure) return deliver({m_node.id, std::nullopt, *failure});
    if (isRedirect(m_status) && !m_location.isEmpty()) return followRedirect();
    m_deadline.stop();
    if (!isSuccess(m_status))
        return deliver({m_node.id, std::nullopt, fetchMessages::badResponse(), int(m_status)});
    decode();
}

void AgentFetch::followRedirect()
{
    const QUrl location(QString::fromUtf8(m_location));
    if (!location.isValid()) return deliver({m_node.id, std::nullopt, fetchMessages::badResponse()});
    const QUrl target = m_url.resolved(location);
    const bool downgrade = m_url.scheme() == "https"_L1 && target.scheme() == "http"_L1;
    const bool tokenMayGo =
        m_node.token.isEmpty() || sameOrigin(m_origin, target) || isUpgrade(m_origin, target);
    if (!isWebScheme(target.scheme()) || target.host().isEmpty() || downgrade || !tokenMayGo)
        return deliver({m_node.id, std::nullopt, fetchMessages::redirectRefused(target)});
    if (++m_redirects > maxRedirects)
        return deliver({m_node.id, std::nullopt, fetchMessages::tooManyRedirects()});
    m_stall.start(m_limits.stallTimeoutMs);
    m_lastActivityMs = m_clock.elapsed();
    send(target);
}

void AgentFetch::checkStall()
{
    const qint64 quiet = m_clock.elapsed() - m_lastActivityMs;
    if (quiet >= m_limits.stallTimeoutMs)
        fail(fetchMessages::stalled(m_limits.stallTimeoutMs));
    else
        m_stall.start(int(m_limits.stallTimeoutMs - quiet));
}

// A body near the size limit takes a while to decode, too long for the event loop to stand still,
// so decoding runs on a pool thread. Only the finished value comes back here; the watcher is our
// child, so a fetch released meanwhile never hears of it.
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
    if (m_delivered) return;
    dropEasy();
    deliver({m_node.id, std::nullopt, message});
}

void AgentFetch::deliver(FetchResult result)
{
    m_delivered = true;
    m_deadline.stop();
    m_stall.stop();
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

void AgentFetch::dropEasy()
{
    if (!m_easy) return;
    if (CurlMulti *multi = CurlMulti::existing()) multi->remove(m_easy);
    curl_easy_cleanup(m_easy);
    m_easy = nullptr;
}

} // namespace vantor
