// SPDX-License-Identifier: MIT
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

QString toolPath(const QString &name = u"vantor-check"_s)
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : QStringList{dir + u"/../src/"_s + name, dir + u"/src/"_s + name})
        if (QFileInfo::exists(candidate)) return candidate;
    return {};
}

// Runs the tool while this process's event loop keeps serving the fake agents.
Run runTool(const QStringList &args, const QByteArray &input = {},
            const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
            const QString &tool = toolPath())
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.setProcessEnvironment(env);
    process.start(tool, args);
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
    void initTestCase()
    {
        QVERIFY2(!toolPath().isEmpty() && !toolPath(u"vantor"_s).isEmpty(), "the programs are not built");
    }
    void goodReply();
    void tokenSources_data();
    void tokenSources();
    void helpAndVersion_data();
    void helpAndVersion();
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

void VantorCheckTest::tokenSources_data()
{
    QTest::addColumn<QStringList>("args");        // before the URL; TOKENFILE stands for the file
    QTest::addColumn<QByteArray>("fileContents"); // of the token file
    QTest::addColumn<QString>("environment");     // VANTOR_TOKEN; empty: not set
    QTest::addColumn<QByteArray>("sent");         // the header's value; empty: no header
    QTest::newRow("option wins over environment")
        << QStringList{u"--token=mine"_s} << QByteArray() << u"from-env"_s << QByteArray("mine");
    QTest::newRow("file wins over environment, line break dropped, blanks kept")
        << QStringList{u"--token-file"_s, u"TOKENFILE"_s} << QByteArray(" s3 cret \r\n") << u"from-env"_s
        << QByteArray(" s3 cret ");
    QTest::newRow("environment") << QStringList{} << QByteArray() << u"from-env"_s << QByteArray("from-env");
    QTest::newRow("none") << QStringList{} << QByteArray() << QString() << QByteArray();
}

void VantorCheckTest::tokenSources()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fileContents);
    QFETCH(QString, environment);
    QFETCH(QByteArray, sent);
    FakeAgent agent;
    agent.answer(401, "{}");
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(fileContents) == fileContents.size());
    file.close();
    args.replaceInStrings(u"TOKENFILE"_s, file.fileName());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"VANTOR_TOKEN"_s);
    if (!environment.isEmpty()) env.insert(u"VANTOR_TOKEN"_s, environment);

    const Run run = runTool(args + QStringList{agent.url()}, {}, env);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QByteArray("HTTP 响应异常\nHTTP status: 401\n"));
    QCOMPARE(agent.requests().size(), 1);
    QCOMPARE(agent.requests()[0].header("X-Monitor-Token"),
             sent.isEmpty() ? std::nullopt : std::optional(sent));
}

void VantorCheckTest::helpAndVersion_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("printed"); // lines the output must hold
    QTest::newRow("console help") << u"vantor"_s << u"--help"_s
                                  << QStringList{u"  -v, --version  Show the version and exit."_s};
    QTest::newRow("console version") << u"vantor"_s << u"--version"_s
                                     << QStringList{u"vantor " VANTOR_VERSION ""_s};
    QTest::newRow("check help")
        << u"vantor-check"_s << u"-h"_s
        << QStringList{u"  --token-file <PATH>  Read the token from PATH; line breaks at its end are"_s,
                       u"  URL                  The agent's address, e.g. http://127.0.0.1:9100/metrics"_s};
    QTest::newRow("check version") << u"vantor-check"_s << u"--version"_s
                                   << QStringList{u"vantor-check " VANTOR_VERSION ""_s};
}

// They print and end without a display: a window, or even a connection to a display, would fail.
void VantorCheckTest::helpAndVersion()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(QStringList, printed);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    const Run run = runTool({option}, {}, env, toolPath(program));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QStringList lines = QString::fromUtf8(run.out).split(u'\n');
    for (const QString &line : printed)
        QVERIFY2(lines.contains(line), qPrintable(line));
}

void VantorCheckTest::verdicts_data()
{
    QTest::addColumn<QString>("source"); // where the reply comes from: agent, file or stdin
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message"); // empty: the reply is good
    QTest::addColumn<int>("httpStatus");  // 0: none to show
    const QByteArray bad = R"({"cpuUsage": "high"})";
    QTest::newRow("wrong token") << u"agent"_s << 401 << QByteArray("{}") << u"HTTP 响应异常"_s << 401;
    QTest::newRow("reply is not a reading")
        << u"agent"_s << 200 << QByteArray("[]") << u"$: expected an object"_s << 0;
    QTest::newRow("bad body from a file") << u"file"_s << 0 << bad << u"$.cpuUsage: expected a number"_s << 0;
    QTest::newRow("good body from standard input")
        << u"stdin"_s << 0 << replyBody(sampleReading(1)) << QString() << 0;
}

void VantorCheckTest::verdicts()
{
    QFETCH(QString, source);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QFETCH(int, httpStatus);
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
        QCOMPARE(QString::fromUtf8(text.out),
                 message + u'\n' + (httpStatus ? u"HTTP status: %1\n"_s.arg(httpStatus) : QString()));

    const Run json = runTool(args + QStringList{u"--json"_s}, input);
    QCOMPARE(json.exitCode, text.exitCode);
    const QJsonObject out = QJsonDocument::fromJson(json.out).object();
    if (message.isEmpty())
        QCOMPARE(out.value(u"ok"_s), QJsonValue(true));
    else if (httpStatus)
        QCOMPARE(out, (QJsonObject{{u"ok"_s, false}, {u"error"_s, message}, {u"httpStatus"_s, httpStatus}}));
    else
        QCOMPARE(out, (QJsonObject{{u"ok"_s, false}, {u"error"_s, message}}));
}

void VantorCheckTest::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    const QString url = u" http://127.0.0.1:1/"_s;
    for (const auto &[name, args] : std::initializer_list<std::pair<const char *, QString>>{
             {"nothing", {}},
             {"unknown option", u"--verbose"_s + url},
             {"token without value", url + u" --token"_s},
             {"two URLs", url + url},
             {"URL and file", url + u" --file -"_s},
             {"missing file", u"--file /nonexistent/reply.json"_s},
             {"token twice", u"--token=a --token=b"_s + url},
             {"token and token file", u"--token a --token-file /dev/null"_s + url},
             {"token for a file", u"--token-file /dev/null --file -"_s},
             {"missing token file", u"--token-file /nonexistent/token"_s + url},
             {"console with an argument", u"vantor --json"_s}})
        QTest::newRow(name) << args.split(u' ', Qt::SkipEmptyParts);
}

void VantorCheckTest::badArguments()
{
    QFETCH(QStringList, args);
    const bool console = args.value(0) == u"vantor"_s;
    const Run run =
        console ? runTool(args.mid(1), {}, QProcessEnvironment::systemEnvironment(), toolPath(u"vantor"_s))
                : runTool(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty() && !run.err.isEmpty());
}

QTEST_GUILESS_MAIN(VantorCheckTest)
#include "tst_vantorcheck.moc"
