// SPDX-License-Identifier: MIT
#include "store/AgentClient.h"
#include "store/FetchPolicy.h"

#include <QTest>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

// The text of a refusal, or the value's own text: a URL as encoded, a header line as sent.
template<typename Value> QString outcome(const std::variant<Value, QString> &v)
{
    if (const auto *text = std::get_if<QString>(&v)) return *text;
    if constexpr (std::is_same_v<Value, QUrl>)
        return QString::fromUtf8(std::get<QUrl>(v).toEncoded());
    else
        return QString::fromUtf8(std::get<QByteArray>(v));
}

} // namespace

// The address, token and redirect rules of a poll, without any request.
class FetchPolicyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void address_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected"); // the URL requested, or the refusal
        const QString userInfo = fetchMessages::userInfoRefused();
        QTest::newRow("configured form")
            << u"http://10.0.0.5:9100/metrics"_s << u"http://10.0.0.5:9100/metrics"_s;
        QTest::newRow("empty") << QString() << fetchMessages::invalidAddress();
        QTest::newRow("space") << u"http://h/a b"_s << fetchMessages::invalidAddress();
        QTest::newRow("local file") << u"file:///etc/hostname"_s << fetchMessages::badResponse();
        // The HTTP library would otherwise guess http for an address without a scheme.
        QTest::newRow("no scheme") << u"localhost:9/metrics"_s << fetchMessages::unsupportedScheme();
        QTest::newRow("no host") << u"http://"_s << fetchMessages::noHost();
        QTest::newRow("user and password") << u"http://u:p@127.0.0.1:9/"_s << userInfo;
        QTest::newRow("user only") << u"https://u@h/"_s << userInfo;
        QTest::newRow("empty user info") << u"http://@h/"_s << userInfo;
        QTest::newRow("@ in the path") << u"http://h/a@b"_s << u"http://h/a@b"_s;
    }
    void address()
    {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(outcome(fetchPolicy::requestUrl(address)), expected);
    }

    void token_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("expected"); // the header line, or the refusal
        const QString unusable = fetchMessages::unusableToken();
        QTest::newRow("empty: no header") << QString() << QString();
        QTest::newRow("blank: sent empty") << u" "_s << u"X-Monitor-Token;"_s;
        QTest::newRow("inner blank and UTF-8") << u"s3cr et令牌"_s << u"X-Monitor-Token: s3cr et令牌"_s;
        QTest::newRow("CR LF") << u"tok\r\nX-Injected: 1"_s << unusable;
        QTest::newRow("bare CR") << u"tok\rX-Injected: 1"_s << unusable;
        QTest::newRow("bare LF") << u"tok\nX-Injected: 1"_s << unusable;
        QTest::newRow("NUL") << u"tok"_s + QChar(0) + u"more"_s << unusable;
    }
    void token()
    {
        QFETCH(QString, token);
        QFETCH(QString, expected);
        QCOMPARE(outcome(fetchPolicy::tokenHeader(token)), expected);
    }

    // A first hop from the configured address.
    void redirect_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<bool>("token");
        QTest::addColumn<int>("followed");
        QTest::addColumn<QString>("expected"); // the next URL, or the refusal
        const QString origin = u"http://h:9100/metrics"_s;
        const auto refused = [](const char *url) {
            return fetchMessages::redirectRefused(QUrl(QString::fromUtf8(url)));
        };
        QTest::newRow("same origin, relative")
            << origin << QByteArray("/real?a=1") << true << 0 << u"http://h:9100/real?a=1"_s;
        QTest::newRow("other port with a token")
            << origin << QByteArray("http://h:9101/m") << true << 0 << refused("http://h:9101");
        QTest::newRow("other port without a token")
            << origin << QByteArray("http://h:9101/m") << false << 0 << u"http://h:9101/m"_s;
        QTest::newRow("other host with a token")
            << origin << QByteArray("http://evil:9100/m") << true << 0 << refused("http://evil:9100");
        QTest::newRow("https, same port")
            << origin << QByteArray("https://h:9100/m") << true << 0 << u"https://h:9100/m"_s;
        QTest::newRow("https, other port")
            << origin << QByteArray("https://h:9443/m") << true << 0 << refused("https://h:9443");
        QTest::newRow("80 to 443") << u"http://h/m"_s << QByteArray("https://h/m") << true << 0
                                   << u"https://h/m"_s;
        QTest::newRow("back to http, no token") << u"https://h:9100/m"_s << QByteArray("http://h:9100/m")
                                                << false << 0 << refused("http://h:9100");
        QTest::newRow("other scheme")
            << origin << QByteArray("ftp://h:9100/m") << false << 0 << refused("ftp://h:9100");
        QTest::newRow("user info on the same origin")
            << origin << QByteArray("http://u:p@h:9100/m") << true << 0 << fetchMessages::userInfoRefused();
        QTest::newRow("not a URL") << origin << QByteArray("http://[::1/m") << false << 0
                                   << fetchMessages::badResponse();
        QTest::newRow("the 50th hop") << origin << QByteArray("/m") << true << 49 << u"http://h:9100/m"_s;
        QTest::newRow("the 51st hop")
            << origin << QByteArray("/m") << true << 50 << fetchMessages::tooManyRedirects();
    }
    void redirect()
    {
        QFETCH(QString, from);
        QFETCH(QByteArray, location);
        QFETCH(bool, token);
        QFETCH(int, followed);
        QFETCH(QString, expected);
        const QUrl url(from);
        QCOMPARE(outcome(fetchPolicy::redirectTarget(url, url, location, token, followed)), expected);
    }
};

QTEST_GUILESS_MAIN(FetchPolicyTest)
#include "tst_fetchpolicy.moc"
