// SPDX-License-Identifier: MIT
#include "CurlMulti.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <utility>

namespace vantor {

namespace {
QPointer<CurlMulti> &shared()
{
    static QPointer<CurlMulti> multi;
    return multi;
}
} // namespace

CurlMulti &CurlMulti::instance()
{
    if (!shared()) shared() = new CurlMulti(QCoreApplication::instance());
    return *shared();
}

CurlMulti *CurlMulti::existing()
{
    return shared().data();
}

CurlMulti::CurlMulti(QObject *parent) : QObject(parent)
{
    // Initialises the library once per process; later calls only count.
    // Without it, or without a multi handle, add() refuses every transfer.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    m_multi.reset(curl_multi_init());
    if (!m_multi) return;
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    for (auto it = m_owners.cbegin(); it != m_owners.cend(); ++it)
        curl_multi_remove_handle(m_multi.get(), it.key());
    m_owners.clear();
    m_multi.reset();
    for (const Watch &w : std::as_const(m_watches)) {
        delete w.read;
        delete w.write;
    }
}

bool CurlMulti::add(CURL *easy, CurlTransfer *owner)
{
    if (!m_multi) return false;
    // One connection per transfer, never kept for another: act() relies on it.
    for (const CURLoption option : {CURLOPT_FORBID_REUSE, CURLOPT_FRESH_CONNECT})
        if (curl_easy_setopt(easy, option, 1L) != CURLE_OK) return false;
    m_owners.insert(easy, owner);
    // libcurl answers by asking for a time-out of zero, which starts the transfer from the event loop.
    if (curl_multi_add_handle(m_multi.get(), easy) == CURLM_OK) return true;
    m_owners.remove(easy);
    return false;
}

void CurlMulti::remove(CURL *easy)
{
    if (m_owners.remove(easy) == 0) return;
    // Closes the transfer's sockets, which unwatches them.
    curl_multi_remove_handle(m_multi.get(), easy);
}

int CurlMulti::onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (what == CURL_POLL_REMOVE)
        multi->unwatch(socket);
    else
        multi->watch(easy, socket, what);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long timeoutMs, void *self)
{
    auto *multi = static_cast<CurlMulti *>(self);
    // Called from inside libcurl: the time-out is served from the event loop, even when it is zero.
    if (timeoutMs < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlMulti::watch(CURL *easy, curl_socket_t socket, int what)
{
    Watch &w = m_watches[socket];
    w.easy = easy;
    const auto notifier = [&](QSocketNotifier *&slot, QSocketNotifier::Type type, bool wanted, int event) {
        if (wanted && !slot) {
            slot = new QSocketNotifier(socket, type, this);
            connect(slot, &QSocketNotifier::activated, this, [this, socket, event] { act(socket, event); });
        } else if (!wanted && slot) {
            slot->setEnabled(false); // it may be the one whose activation got us here
            slot->deleteLater();
            slot = nullptr;
        }
    };
    notifier(w.read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT, CURL_CSELECT_IN);
    notifier(w.write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT,
             CURL_CSELECT_OUT);
}

void CurlMulti::unwatch(curl_socket_t socket)
{
    const auto it = m_watches.constFind(socket);
    if (it == m_watches.cend()) return;
    for (QSocketNotifier *n : {it->read, it->write}) {
        if (!n) continue;
        n->setEnabled(false);
        n->deleteLater();
    }
    m_watches.erase(it);
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    CURL *easy = m_watches.value(socket).easy;
    int running = 0;
    curl_multi_socket_action(m_multi.get(), socket, events, &running);
    // Readiness of a transfer's socket means bytes moved (or the connection ended, which ends it).
    // That tells its owner of progress only because a socket serves one transfer and is never kept
    // for the next: add() forbids reuse on every handle.
    if (CurlTransfer *owner = easy ? m_owners.value(easy) : nullptr) owner->socketActivity();
    finishDone();
}

void CurlMulti::finishDone()
{
    QList<std::pair<CURL *, CURLcode>> done;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &left))
        if (message->msg == CURLMSG_DONE) done.append({message->easy_handle, message->data.result});
    // An owner may end other transfers while it is told, so each is looked up afresh.
    for (const auto &[easy, code] : std::as_const(done)) {
        CurlTransfer *owner = m_owners.take(easy);
        if (!owner) continue;
        curl_multi_remove_handle(m_multi.get(), easy);
        owner->transferDone(code);
    }
}

} // namespace vantor
