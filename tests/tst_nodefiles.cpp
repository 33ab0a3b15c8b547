// SPDX-License-Identifier: MIT
#include "store/NodeFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

const QString first = u"004Varnel/config/nodes.json"_s;
const QString saved = u"Vantor/config/nodes.json"_s;
const QString resource = u"resource/nodes.json"_s;

QByteArray bare(const QStringList &ids)
{
    QByteArray out = "[";
    for (const QString &id : ids)
        out += (out.size() > 1 ? "," : "") +
               u"{\"id\":\"%1\",\"name\":\"N%1\",\"address\":\"http://127.0.0.1:1/metrics\","
               "\"token\":\"\",\"extra\":1}"_s.arg(id)
                   .toUtf8();
    return out + "]";
}

QByteArray record(const QStringList &ids, const QByteArray &interval = "30")
{
    return "{\"refresh_interval\":" + interval + ",\"nodes\":" + bare(ids) + "}";
}

QStringList ids(const QList<ServerNode> &nodes)
{
    QStringList out;
    for (const ServerNode &n : nodes)
        out << n.id;
    return out;
}

} // namespace

class TestNodeFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_where = NodeLocations{m_dir->path(), m_dir->filePath(resource)};
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("firstFile"); // empty: no file
        QTest::addColumn<QByteArray>("savedFile");
        QTest::addColumn<QByteArray>("resourceFile");
        QTest::addColumn<QStringList>("expected"); // empty: the fallback

        const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
        const QStringList xyz{u"x"_s, u"y"_s, u"z"_s};
        QTest::newRow("nothing") << QByteArray() << QByteArray() << QByteArray() << QStringList();
        QTest::newRow("first wins over saved") << bare(abc) << bare(xyz) << QByteArray() << abc;
        QTest::newRow("record form") << QByteArray() << record(xyz) << QByteArray() << xyz;
        QTest::newRow("null interval") << record(abc, "null") << QByteArray() << QByteArray() << abc;
        QTest::newRow("interval of wrong kind passed over")
            << record(abc, "\"30\"") << bare(xyz) << QByteArray() << xyz;
        QTest::newRow("empty record passed over") << record({}) << QByteArray() << bare(abc) << abc;
        QTest::newRow("malformed passed over")
            << QByteArray("[{") << QByteArray("\xff\xfe") << bare(abc) << abc;
        QTest::newRow("lenient JSON passed over")
            << record(abc, ".5") << bare(abc).replace("\"N", "\"\\N") << bare(xyz) << xyz;
        QTest::newRow("node without token passed over")
            << QByteArray(R"([{"id":"a","name":"A","address":"x"}])") << bare(xyz) << QByteArray() << xyz;
        QTest::newRow("five nodes loaded whole")
            << QByteArray() << bare({u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s}) << QByteArray()
            << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s};
    }

    void load()
    {
        QFETCH(QByteArray, firstFile);
        QFETCH(QByteArray, savedFile);
        QFETCH(QByteArray, resourceFile);
        QFETCH(QStringList, expected);
        if (!firstFile.isEmpty()) write(first, firstFile);
        if (!savedFile.isEmpty()) write(saved, savedFile);
        if (!resourceFile.isEmpty()) write(resource, resourceFile);

        const QList<ServerNode> fallback{{u"fb"_s, u"fb"_s, {}, {}}};
        const QList<ServerNode> got = loadNodes(m_where, fallback);
        QCOMPARE(ids(got), expected.isEmpty() ? QStringList{u"fb"_s} : expected);
        if (!expected.isEmpty()) QCOMPARE(got.first().name, u"N"_s + expected.first());
    }

    void noSupportDirectory()
    {
        write(saved, bare({u"a"_s}));
        write(resource, bare({u"r"_s}));
        const NodeLocations where{std::nullopt, m_dir->filePath(resource)};
        QCOMPARE(ids(loadNodes(where, {})), QStringList{u"r"_s});
        QVERIFY(!persist(where, loadNodes(where, {})));
        const NodeLocations directoryAsResource{std::nullopt, m_dir->path()}; // not a file: passed over
        QCOMPARE(ids(loadNodes(directoryAsResource, {{u"fb"_s, {}, {}, {}}})), QStringList{u"fb"_s});
    }

    // An array of records with the keys in order, one to a line, owner-only even over a wider file.
    void saveFormAndRoundTrip()
    {
        write(saved, bare({u"old"_s}));
        QFile::setPermissions(m_dir->filePath(saved), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                          QFileDevice::ReadGroup | QFileDevice::ReadOther);
        const QList<ServerNode> nodes{{u"b/1"_s, u"节点 \"一\""_s, u"http://127.0.0.1:9/metrics"_s, u" "_s},
                                      {u"a"_s, u"A"_s, QString(), QString()}};
        QVERIFY(persist(m_where, nodes));
        QFile f(m_dir->filePath(saved));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n').mid(0, 6);
        for (QByteArray &line : lines)
            line = line.trimmed().split(':').value(0);
        QCOMPARE(lines, (QList<QByteArray>{"[", "{", "\"address\"", "\"id\"", "\"name\"", "\"token\""}));
        QCOMPARE(loadNodes(m_where, {}), nodes);
        struct stat info {
        };
        QCOMPARE(::stat(QFile::encodeName(m_dir->filePath(saved)).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
    }

    void failedWriteKeepsEarlierFile()
    {
        // A file-size limit makes the write fail even for root, who ignores permissions.
        QVERIFY(persist(m_where, {{u"kept"_s, u"k"_s, u"a"_s, u"t"_s}}));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 16;
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = persist(m_where, {{u"lost"_s, u"l"_s, u"a"_s, u"t"_s}});
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(ids(loadNodes(m_where, {})), QStringList{u"kept"_s});
        QCOMPARE(QDir(m_dir->filePath(u"Vantor/config"_s)).entryList(QDir::Files),
                 QStringList{u"nodes.json"_s});
    }

private:
    void write(const QString &relative, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(m_dir->filePath(relative)).absolutePath());
        QFile f(m_dir->filePath(relative));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    NodeLocations m_where;
};

QTEST_GUILESS_MAIN(TestNodeFiles)
#include "tst_nodefiles.moc"
