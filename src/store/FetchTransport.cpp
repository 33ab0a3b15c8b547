// SPDX-License-Identifier: MIT
#include "FetchTransport.h"

#include "FetchPolicy.h"

#include <cerrno>
#include <utility>

namespace vantor {

FetchTransport::FetchTransport(const FetchLimits &limits, std::function<void(const Outcome &)> finished,
                               QObject *parent)
    : QObject(parent), m_limits(limits), m_finished(std::move(finished))
{
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, &FetchTransport::checkStall);
}

FetchTransport::~FetchTransport()
{
    dropEasy();
}

std::optional<QString> FetchTransport::get(const QUrl &url, const QByteArray &header)
{
    m_easy.reset(curl_easy_init());
    if (!header.isEmpty()) {
        m_headers.reset(curl_slist_append(nullptr, header.constData()));
        if (!m_headers) return fetchMessages::clientFailed();
    }
    if (!m_easy || !configure(url) || !CurlMulti::instance().add(m_easy.get(), this)) {
        m_easy.reset();
        return fetchMessages::clientFailed();
    }
    m_clock.start();
    m_stall.start(m_limits.stallTimeoutMs);
    return std::nullopt;
}

// Every option the request depends on; false if libcurl refused one.
bool FetchTransport::configure(const QUrl &url)
{
    bool ok = true;
    const auto set = [this, &ok](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(m_easy.get(), option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, url.toEncoded(QUrl::RemoveFragment).constData());
    set(CURLOPT_PATH_AS_IS, 1L); // the address as written, dot segments too
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PROXY, ""); // no proxy from the environment: the console reads none of it
    set(CURLOPT_NOSIGNAL, 1L);
    // A poll ended during a slow name lookup leaves the lookup's thread to finish on its own instead
    // of waiting for it on the event loop.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_ERRORBUFFER, m_error);
    set(CURLOPT_HEADERFUNCTION, &FetchTransport::onHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &FetchTransport::onBody);
    set(CURLOPT_WRITEDATA, this);
    if (m_headers) set(CURLOPT_HTTPHEADER, m_headers.get());
    if (!m_limits.caFile.isEmpty()) set(CURLOPT_CAINFO, m_limits.caFile.toLocal8Bit().constData());
    return ok;
}

size_t FetchTransport::onHeader(char *data, size_t size, size_t count, void *self)
{
    // Returning less than given stops the transfer; the reason is kept in m_failure or m_headersDone.
    return static_cast<FetchTransport *>(self)->headerLine(QByteArrayView(data, qsizetype(size * count)))
               ? size * count
               : 0;
}

// One complete header line of the reply. False stops the transfer.
bool FetchTransport::headerLine(QByteArrayView line)
{
    m_headerBytes += line.size();
    if (m_headerBytes > m_limits.maxHeaderBytes) {
        m_failure = fetchMessages::headersTooLarge(m_limits.maxHeaderBytes);
        return false;
    }
    if (line.startsWith("HTTP/")) m_reply.location.clear(); // a new reply after an interim one
    if (line.size() > 9 && QByteArrayView(line.first(9)).compare("Location:", Qt::CaseInsensitive) == 0)
        m_reply.location = line.sliced(9).trimmed().toByteArray();
    if (!line.trimmed().isEmpty()) return true;

    curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &m_reply.status);
    if (m_reply.status >= 100 && m_reply.status < 200) return true; // interim: the real reply follows
    m_headersDone = true;
    curl_off_t length = -1;
    curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const bool success = fetchPolicy::isSuccess(m_reply.status);
    if (success && length > m_limits.maxBodyBytes)
        m_failure = fetchMessages::bodyTooLarge(m_limits.maxBodyBytes);
    // Only a good reply's body is ever read: a redirect or a refusal is decided by its status.
    return !m_failure && success;
}

size_t FetchTransport::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *transport = static_cast<FetchTransport *>(self);
    const qsizetype bytes = qsizetype(size * count);
    if (transport->m_reply.body.size() + bytes > transport->m_limits.maxBodyBytes) {
        transport->m_failure = fetchMessages::bodyTooLarge(transport->m_limits.maxBodyBytes);
        return 0;
    }
    transport->m_reply.body.append(data, bytes);
    return size * count;
}

// The text of a transfer that libcurl ended, or nothing when the reply was received whole. Each of
// libcurl's outcomes has a fixed text of ours, since libcurl's own wording changes between versions;
// only the TLS library's reason is passed on, after a fixed text.
std::optional<QString> FetchTransport::failure(CURLcode code) const
{
    if (m_failure) return m_failure;
    const QString detail = QString::fromUtf8(m_error[0] ? m_error : curl_easy_strerror(code));
    switch (code) {
    case CURLE_OK:
        return std::nullopt;
    case CURLE_WRITE_ERROR: // we stopped reading a body that is never read
        if (m_headersDone) return std::nullopt;
        break;
    // A reply that does not start like HTTP/1.x ("HTTP/0.9" to libcurl) or breaks its rules.
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return fetchMessages::badResponse();
    // libcurl's cap on one header line, below the whole head's cap when that line is longer still:
    // out of memory up to libcurl 8.5, "too large" from 8.6 on.
    case CURLE_OUT_OF_MEMORY:
#if LIBCURL_VERSION_NUM >= 0x080600
    case CURLE_TOO_LARGE:
#endif
        if (!m_headersDone) return fetchMessages::headersTooLarge(m_limits.maxHeaderBytes);
        return code == CURLE_OUT_OF_MEMORY ? fetchMessages::transferFailed(code)
                                           : fetchMessages::badResponse();
    case CURLE_COULDNT_RESOLVE_HOST:
        return fetchMessages::hostNotFound();
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        curl_easy_getinfo(m_easy.get(), CURLINFO_OS_ERRNO, &error);
        return error == ECONNREFUSED ? fetchMessages::connectionRefused() : fetchMessages::hostUnreachable();
    }
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return fetchMessages::connectionLost();
    case CURLE_GOT_NOTHING:
        return fetchMessages::emptyReply();
    case CURLE_PARTIAL_FILE:
        return fetchMessages::replyCutShort();
    case CURLE_PEER_FAILED_VERIFICATION:
        return fetchMessages::certificateRejected(detail);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return fetchMessages::tlsFailed(detail);
    default:
        break;
    }
    return fetchMessages::transferFailed(code);
}

void FetchTransport::transferDone(CURLcode code)
{
    m_stall.stop();
    const std::optional<QString> failed = failure(code);
    dropEasy();
    if (failed) return finish(*failed);
    finish(std::exchange(m_reply, {}));
}

void FetchTransport::checkStall()
{
    const qint64 quiet = m_clock.elapsed() - m_lastActivityMs;
    if (quiet < m_limits.stallTimeoutMs) return m_stall.start(int(m_limits.stallTimeoutMs - quiet));
    dropEasy();
    finish(fetchMessages::stalled(m_limits.stallTimeoutMs));
}

// The last thing done for a transfer: the listener may destroy this object.
void FetchTransport::finish(const Outcome &outcome)
{
    m_stall.stop();
    if (auto finished = std::exchange(m_finished, {})) finished(outcome);
}

void FetchTransport::dropEasy()
{
    if (!m_easy) return;
    if (CurlMulti *multi = CurlMulti::existing()) multi->remove(m_easy.get());
    m_easy.reset();
}

} // namespace vantor
