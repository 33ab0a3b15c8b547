// SPDX-License-Identifier: MIT
// Starts the real vantor-agent on loopback with fixture /proc and /sys trees and a fake systemctl, and
// reads its replies the way the console does.

#include "TempTree.h"
#include "model/Snapshot.h"

#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>

using namespace Qt::StringLiterals;
using vantor::MetricsSnapshot;

class TestAgentHttp : public QObject
{
    Q_OBJECT

    TempTree m_tree;
    QProcess m_agent;

private Q_SLOTS:
    void cleanupTestCase()
    {
        m_agent.terminate();
        QVERIFY(m_agent.waitForFinished(5000));
        QCOMPARE(std::pair(m_agent.exitStatus(), m_agent.exitCode()), std::pair(QProcess::NormalExit, 0));
    }

    // The agent's figures arrive through the console's own decoder; the query string is no part of the path.
    void replyDecodesIntoACompleteReading()
    {
        const std::pair<const char *, const char *> files[] = {
            {"proc/stat", "cpu 300 0 100 600 0 0 0 0 0 0\n"},
            {"proc/meminfo", "MemTotal: 4000 kB\nMemFree: 100 kB\nMemAvailable: 1000 kB\n"},
            {"proc/uptime", "86400.25 1000.00\n"},
            {"proc/loadavg", "0.75 0.5 0.25 1/99 7\n"},
            {"proc/cpuinfo", "processor : 0\nmodel name : Fixture CPU\nphysical id : 0\ncore id : 0\n"
                             "processor : 1\nmodel name : Fixture CPU\nphysical id : 0\ncore id : 0\n"},
            {"proc/sys/kernel/hostname", "fixture-host\n"},
            {"sys/class/hwmon/hwmon0/name", "coretemp\n"},
            {"sys/class/hwmon/hwmon0/temp1_input", "55000\n"},
            // One state per unit, only when asked the way the agent must ask.
            {"bin/systemctl", "#!/bin/sh\n[ \"$1 $2\" = \"is-active --\" ] || exit 9\nshift 2\n"
                              "for u; do [ $u = web.service ] && echo active || echo failed; done\n"}};
        for (const auto &[path, text] : files)
            m_tree.write(path, text);
        std::filesystem::permissions(m_tree.root() / "bin/systemctl", std::filesystem::perms::owner_all);
        const auto config =
            m_tree.write("agent.json", QStringLiteral(R"({
            "listenAddress": "127.0.0.1", "token": "t0ken",
            "services": ["web.service", "db.service"],
            "thresholds": {"disk": {"warning": 1000, "critical": 1000}}, "checks": {"clockSync": false},
            "systemctl": "%1/bin/systemctl", "procRoot": "%1/proc", "sysRoot": "%1/sys", "rootPath": "%1"})")
                                           .arg(QString::fromStdString(m_tree.root().string()))
                                           .toStdString());
        // The agent goes down with this test even when the test dies without cleaning up.
        m_agent.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_agent.start(QStringLiteral(VANTOR_AGENT_BINARY),
                      {u"--config"_s, QString::fromStdString(config.string()), u"--port"_s, u"0"_s});
        const QRegularExpression listening(u"listening on 127\\.0\\.0\\.1 port (\\d+)"_s);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += m_agent.readAllStandardOutput(), listening.match(QString::fromUtf8(out)).hasMatch()),
            10000);

        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(
            u"http://127.0.0.1:%1/metrics?x=1"_s.arg(listening.match(QString::fromUtf8(out)).captured(1))));
        request.setRawHeader("X-Monitor-Token", "t0ken");
        QNetworkReply *reply = network.get(request);
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
        const auto decoded = vantor::decodeSnapshot(reply->readAll());
        QVERIFY(std::holds_alternative<MetricsSnapshot>(decoded));
        const MetricsSnapshot m = std::get<MetricsSnapshot>(decoded);
        // CPU since boot: 400 busy of 1000 ticks.
        QCOMPARE((QList<double>{m.cpuUsage, m.memoryUsage, m.uptimeSeconds}),
                 (QList<double>{40, 75, 86400.25}));
        QCOMPARE((QList<qint64>{m.servicesRunning, m.servicesTotal}), (QList<qint64>{1, 2}));
        QCOMPARE(m.alerts.size(), 1);
        QCOMPARE(m.alerts[0].title, u"服务未运行：db.service"_s);
        QVERIFY(m.hardware && m.hardware->cpu && m.network && m.network->addresses &&
                m.hardware->storage->root);
        QCOMPARE(*m.hardware->cpu, (vantor::HardwareCPU{1, 2, u"Fixture CPU"_s, 55.0}));
        QCOMPARE(m.network->hostname, u"fixture-host"_s);
    }
};

QTEST_GUILESS_MAIN(TestAgentHttp)
#include "tst_agent_http.moc"
