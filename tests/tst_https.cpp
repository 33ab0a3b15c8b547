// SPDX-License-Identifier: MIT
#include "store/AgentClient.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace vantor;
using namespace Qt::StringLiterals;

// The console's agent client against the real agent serving HTTPS, with certificate authorities made
// here and thrown away afterwards: trusted, the reading arrives; not trusted, the poll fails and says why.
class HttpsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path())); // every file of the test is made and read there
        // Two certificate authorities, and a certificate for 127.0.0.1 signed by the first.
        const QString req = u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "_s;
        for (const QString &arguments :
             {u"-subj /CN=trusted -keyout trusted.key -out trusted.pem"_s,
              u"-subj /CN=stranger -keyout stranger.key -out stranger.pem"_s,
              u"-subj /CN=127.0.0.1 -CA trusted.pem -CAkey trusted.key -keyout host.key -out host.pem "
              "-addext subjectAltName=IP:127.0.0.1 -addext basicConstraints=CA:FALSE"_s})
            QCOMPARE(QProcess::execute(u"openssl"_s, QProcess::splitCommand(QString(req + arguments))), 0);

        QFile config(u"agent.json"_s);
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"({"listenAddress": "127.0.0.1", "token": "tls-secret", "services": [],
                         "tls": {"certificate": "host.pem", "key": "host.key"}})");
        config.close();

        m_agent.setProcessChannelMode(QProcess::MergedChannels);
        m_agent.start(QStringLiteral(VANTOR_AGENT_BINARY),
                      {u"--config"_s, config.fileName(), u"--port"_s, u"0"_s});
        const QRegularExpression listening(u"listening on \\S+ port (\\d+)"_s);
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += QString::fromUtf8(m_agent.readAll()), listening.match(output).hasMatch()), 10000);
        m_url = u"https://127.0.0.1:"_s + listening.match(output).captured(1) + u"/metrics"_s;
    }

    void cleanupTestCase()
    {
        m_agent.terminate();
        m_agent.waitForFinished(5000);
    }

    void fetchOverTls_data()
    {
        QTest::addColumn<QString>("caFile");  // empty: the system's trust store
        QTest::addColumn<QString>("failure"); // empty: a reading arrives
        QTest::newRow("its CA trusted") << u"trusted.pem"_s << QString();
        // Our text, then the TLS library's reason, whose wording is its own.
        const QString rejected = fetchMessages::certificateRejected(QString());
        QTest::newRow("another CA trusted") << u"stranger.pem"_s << rejected;
        QTest::newRow("the system's trust store") << QString() << rejected;
    }

    void fetchOverTls()
    {
        QFETCH(QString, caFile);
        QFETCH(QString, failure);
        std::optional<FetchResult> result;
        QObject context;
        fetch(ServerNode{u"n"_s, u"N"_s, m_url, u"tls-secret"_s}, FetchLimits{.caFile = caFile}, &context,
              [&result](const FetchResult &r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
        const QString message = result->message.value_or(QString());
        const bool shaped = failure.isEmpty()
                                ? message.isEmpty()
                                : message.startsWith(failure) && message.size() > failure.size();
        QVERIFY2(result->reading.has_value() == failure.isEmpty() && shaped, qPrintable(message));
    }

private:
    QTemporaryDir m_dir;
    QProcess m_agent;
    QString m_url;
};

QTEST_GUILESS_MAIN(HttpsTest)
#include "tst_https.moc"
