// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

class QSocketNotifier;

namespace vantor {

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
public:
    // The process-wide instance, made on first use and owned by the application object.
    static CurlMulti &instance();
    // The instance if it still exists; handles outliving it need no removal.
    static CurlMulti *existing();

    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    void add(CURL *easy, CurlTransfer *owner);
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

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    QHash<curl_socket_t, Watch> m_watches;
    QHash<CURL *, CurlTransfer *> m_owners;
};

} // namespace vantor
