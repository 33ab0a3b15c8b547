// SPDX-License-Identifier: MIT
#include "store/AgentClient.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace vantor;
using namespace Qt::StringLiterals;

// The console's agent client against the real agent serving HTTPS, with a certificate authority made
// here and thrown away afterwards: trusted, the reading arrives; not trusted, the poll fails and says why.
class HttpsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void fetchOverTls_data();
    void fetchOverTls();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    void openssl(const QString &arguments);
    void makeAuthority(const QString &name);

    QTemporaryDir m_dir;
    QProcess m_agent;
    QString m_url;
};

void HttpsTest::openssl(const QString &arguments)
{
    QProcess run;
    run.setWorkingDirectory(m_dir.path());
    run.start(u"openssl"_s, QProcess::splitCommand(arguments));
    QVERIFY2(run.waitForFinished(20000) && run.exitCode() == 0, qPrintable(arguments));
}

// <name>.pem and .key: a CA; <name>-host.pem and .key: a certificate for 127.0.0.1 signed by it.
void HttpsTest::makeAuthority(const QString &name)
{
    const QString ec = u" -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "_s;
    openssl(u"req -x509"_s + ec + u"-days 2 -subj /CN="_s + name + u" -keyout "_s + name + u".key -out "_s +
            name + u".pem -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"_s);
    openssl(u"req"_s + ec + u"-subj /CN=127.0.0.1 -keyout "_s + name + u"-host.key -out "_s + name +
            u"-host.csr"_s);
    openssl(u"x509 -req -in "_s + name + u"-host.csr -CA "_s + name + u".pem -CAkey "_s + name +
            u".key -CAcreateserial -days 2 -extfile san.ext -out "_s + name + u"-host.pem"_s);
}

void HttpsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile ext(path(u"san.ext"_s));
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    makeAuthority(u"trusted"_s);
    makeAuthority(u"stranger"_s);

    QFile config(path(u"agent.json"_s));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    config.write(R"({"listenAddress": "127.0.0.1", "token": "tls-secret", "services": [],
                     "tls": {"certificate": ")" +
                 path(u"trusted-host.pem"_s).toUtf8() + R"(", "key": ")" +
                 path(u"trusted-host.key"_s).toUtf8() + R"("}})");
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

void HttpsTest::cleanupTestCase()
{
    m_agent.terminate();
    m_agent.waitForFinished(5000);
}

void HttpsTest::fetchOverTls_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("failure"); // empty: a reading arrives

    QTest::newRow("its CA trusted") << u"trusted.pem"_s << QString();
    QTest::newRow("another CA trusted") << u"stranger.pem"_s << u"SSL certificate problem"_s;
    QTest::newRow("the system's trust store") << QString() << u"SSL certificate problem"_s;
}

void HttpsTest::fetchOverTls()
{
    QFETCH(QString, caFile);
    QFETCH(QString, failure);
    FetchLimits limits;
    if (!caFile.isEmpty()) limits.caFile = path(caFile);

    std::optional<FetchResult> result;
    QObject context;
    fetch(ServerNode{u"n"_s, u"N"_s, m_url, u"tls-secret"_s}, limits, &context,
          [&result](const FetchResult &r) { result = r; });
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
    if (failure.isEmpty()) {
        QVERIFY2(result->reading.has_value(), qPrintable(result->message.value_or(QString())));
    } else {
        QVERIFY(!result->reading);
        QVERIFY2(result->message.value_or(QString()).contains(failure),
                 qPrintable(result->message.value_or(QString())));
    }
}

QTEST_GUILESS_MAIN(HttpsTest)
#include "tst_https.moc"
