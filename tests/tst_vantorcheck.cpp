#include "FakeAgent.h"
#include "StoreFixture.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QString toolPath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate :
         QStringList{dir + u"/../src/vantor-check"_s, dir + u"/src/vantor-check"_s})
        if (QFileInfo::exists(candidate)) return candidate;
    return {};
}

// Runs the tool while this process's event loop keeps serving the fake agents.
Run runTool(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(toolPath(), args);
    process.write(input);
    process.closeWriteChannel();
    if (!finished.wait(15000)) process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class VantorCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(!toolPath().isEmpty(), "vantor-check is not built beside the tests"); }
    void goodReply();
    void failingReply_data();
    void failingReply();
    void savedBody_data();
    void savedBody();
    void badArguments_data();
    void badArguments();
};

void VantorCheckTest::goodReply()
{
    FakeAgent agent;
    MetricsSnapshot reading = sampleReading(12.25, {u"warning"_s});
    reading.notices = QList<ServerAlert>{};
    agent.answer(200, replyBody(reading));

    const Run json = runTool({u"--json"_s, u"--token"_s, u"abc"_s, agent.url()});
    QCOMPARE(json.exitCode, 0);
    const QJsonObject out = QJsonDocument::fromJson(json.out).object();
    QCOMPARE(out.value(u"ok"_s), QJsonValue(true));
    QCOMPARE(out.value(u"status"_s), QJsonValue(u"warning"_s));
    QCOMPARE(out.value(u"reading"_s).toObject(), QJsonDocument::fromJson(replyBody(reading)).object());
    QCOMPARE(agent.requests().value(0).header("X-Monitor-Token"), QByteArray("abc"));

    const Run text = runTool({agent.url()});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(text.out.startsWith("status: warning\ncpuUsage: 12.25\n"));
    QVERIFY(text.out.contains(u"[warning] 标题 — 说明"_s.toUtf8()));
    QCOMPARE(agent.requests().value(1).header("X-Monitor-Token"), std::nullopt);
}

void VantorCheckTest::failingReply_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::newRow("status 500") << 500 << QByteArray("{}") << u"HTTP 响应异常"_s;
    QTest::newRow("reply is not a reading")
        << 200 << QByteArray("[]") << std::get<QString>(decodeSnapshot("[]"));
}

void VantorCheckTest::failingReply()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    FakeAgent agent;
    agent.answer(status, body);

    const Run text = runTool({agent.url()});
    QCOMPARE(text.exitCode, 1);
    QCOMPARE(QString::fromUtf8(text.out), message + u'\n');

    const Run json = runTool({agent.url(), u"--json"_s});
    QCOMPARE(json.exitCode, 1);
    QCOMPARE(QJsonDocument::fromJson(json.out).object(),
             (QJsonObject{{u"ok"_s, false}, {u"error"_s, message}}));
}

void VantorCheckTest::savedBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("viaStdin");
    QTest::addColumn<int>("exitCode");
    const QByteArray bad = R"({"cpuUsage": "high"})";
    QTest::newRow("bad body from a file") << bad << false << 1;
    QTest::newRow("bad body from standard input") << bad << true << 1;
    QTest::newRow("good body from standard input") << replyBody(sampleReading(1)) << true << 0;
}

void VantorCheckTest::savedBody()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, viaStdin);
    QFETCH(int, exitCode);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(body);
    file.close();

    const Run run = viaStdin ? runTool({u"--file"_s, u"-"_s}, body) : runTool({u"--file"_s, file.fileName()});
    QCOMPARE(run.exitCode, exitCode);
    const auto decoded = decodeSnapshot(body);
    if (exitCode == 1)
        QCOMPARE(QString::fromUtf8(run.out), std::get<QString>(decoded) + u'\n');
    else
        QVERIFY(run.out.startsWith("status: online\n"));
}

void VantorCheckTest::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown option") << QStringList{u"--verbose"_s, u"http://127.0.0.1:1/"_s};
    QTest::newRow("token without value") << QStringList{u"http://127.0.0.1:1/"_s, u"--token"_s};
    QTest::newRow("two URLs") << QStringList{u"http://127.0.0.1:1/"_s, u"http://127.0.0.1:2/"_s};
    QTest::newRow("URL and file") << QStringList{u"http://127.0.0.1:1/"_s, u"--file"_s, u"-"_s};
    QTest::newRow("missing file") << QStringList{u"--file"_s, u"/nonexistent/reply.json"_s};
}

void VantorCheckTest::badArguments()
{
    QFETCH(QStringList, args);
    const Run run = runTool(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(!run.err.isEmpty());
}

QTEST_GUILESS_MAIN(VantorCheckTest)
#include "tst_vantorcheck.moc"
