// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <memory>

class QSocketNotifier;

namespace vantor {

// Owners of libcurl's handles: each is released exactly once, whichever way its owner ends.
struct CurlEasyFree {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiFree {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct CurlListFree {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlEasyHandle = std::unique_ptr<CURL, CurlEasyFree>;
using CurlMultiHandle = std::unique_ptr<CURLM, CurlMultiFree>;
using CurlList = std::unique_ptr<curl_slist, CurlListFree>;

// A transfer that CurlMulti drives. Both calls come from the event loop, never from inside libcurl,
// so the owner may remove its handle, add another or delete itself in them.
class CurlTransfer
{
public:
    virtual ~CurlTransfer() = default;
    virtual void socketActivity() = 0;            // one of its sockets was ready and libcurl served it
    virtual void transferDone(CURLcode code) = 0; // libcurl has finished with the handle
};

// libcurl's multi interface on the event loop of the thread that made it: socket notifiers tell
// libcurl when its sockets are ready, and one timer serves libcurl's own time-outs. Nothing blocks
// and no thread is started; a transfer costs the event loop only the reading of what arrives.
class CurlMulti : public QObject
{
    Q_OBJECT
public:
    // The process-wide instance, made on first use and owned by the application object.
    static CurlMulti &instance();
    // The instance if it still exists; handles outliving it need no removal.
    static CurlMulti *existing();

    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    // Starts the transfer, on a connection of its own (see act()). False when libcurl refused it:
    // the owner then hears nothing, and the handle stays its own.
    [[nodiscard]] bool add(CURL *easy, CurlTransfer *owner);
    void remove(CURL *easy); // the owner hears nothing more of it

private:
    struct Watch {
        CURL *easy = nullptr;
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *);
    static int onTimer(CURLM *, long timeoutMs, void *self);
    void watch(CURL *easy, curl_socket_t socket, int what);
    void unwatch(curl_socket_t socket);
    void act(curl_socket_t socket, int events);
    void finishDone();

    CurlMultiHandle m_multi;
    QTimer m_timer;
    QHash<curl_socket_t, Watch> m_watches;
    QHash<CURL *, CurlTransfer *> m_owners;
};

} // namespace vantor
