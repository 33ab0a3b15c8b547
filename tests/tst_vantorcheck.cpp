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
    QByteArray out, err;
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
    void verdicts_data();
    void verdicts();
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

void VantorCheckTest::verdicts_data()
{
    QTest::addColumn<QString>("source"); // where the reply comes from: agent, file or stdin
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message"); // empty: the reply is good
    const QByteArray bad = R"({"cpuUsage": "high"})";
    const auto decoderMessage = [](const QByteArray &body) {
        return std::get<QString>(decodeSnapshot(body));
    };
    QTest::newRow("status 500") << u"agent"_s << 500 << QByteArray("{}") << u"HTTP 响应异常"_s;
    QTest::newRow("reply is not a reading") << u"agent"_s << 200 << QByteArray("[]") << decoderMessage("[]");
    QTest::newRow("bad body from a file") << u"file"_s << 0 << bad << decoderMessage(bad);
    QTest::newRow("good body from standard input")
        << u"stdin"_s << 0 << replyBody(sampleReading(1)) << QString();
}

void VantorCheckTest::verdicts()
{
    QFETCH(QString, source);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    FakeAgent agent;
    agent.answer(status, body);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(body) == body.size());
    file.close();
    const QStringList args = source == u"agent"_s
                                 ? QStringList{agent.url()}
                                 : QStringList{u"--file"_s, source == u"file"_s ? file.fileName() : u"-"_s};
    const QByteArray input = source == u"stdin"_s ? body : QByteArray();

    const Run text = runTool(args, input);
    QCOMPARE(text.exitCode, message.isEmpty() ? 0 : 1);
    if (message.isEmpty())
        QVERIFY(text.out.startsWith("status: online\n"));
    else
        QCOMPARE(QString::fromUtf8(text.out), message + u'\n');

    const Run json = runTool(args + QStringList{u"--json"_s}, input);
    QCOMPARE(json.exitCode, text.exitCode);
    const QJsonObject out = QJsonDocument::fromJson(json.out).object();
    if (message.isEmpty())
        QCOMPARE(out.value(u"ok"_s), QJsonValue(true));
    else
        QCOMPARE(out, (QJsonObject{{u"ok"_s, false}, {u"error"_s, message}}));
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
    QVERIFY(run.out.isEmpty() && !run.err.isEmpty());
}

QTEST_GUILESS_MAIN(VantorCheckTest)
#include "tst_vantorcheck.moc"
