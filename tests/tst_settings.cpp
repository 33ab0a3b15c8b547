// SPDX-License-Identifier: MIT
#include "StoreFixture.h"
#include "ui/SettingsView.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QtTest>

#include <memory>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

namespace {

const QString countMessage = u"请配置恰好 3 台服务器"_s;

// Closed loopback ports: a live poll started by a save fails at once and never leaves the machine.
QList<ServerNode> loopbackNodes()
{
    return {{u"a"_s, u"甲"_s, u"http://127.0.0.1:9/metrics"_s, u"ta"_s},
            {u"b"_s, u"乙"_s, u"http://127.0.0.1:9/metrics"_s, u"tb"_s},
            {u"c"_s, u"丙"_s, u"http://[::1]:9/metrics"_s, u""_s}};
}

const QString oneNode =
    u"{\"id\": \"z\", \"name\": \"n\", \"address\": \"http://127.0.0.1:9/metrics\", \"token\": \"\"}"_s;

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempNodeFiles> files;
    std::unique_ptr<MonitorStore> store;
    std::unique_ptr<QWidget> window;
    SettingsView *sheet = nullptr;

    QPlainTextEdit *editor() const { return sheet->findChild<QPlainTextEdit *>(u"config"_s); }
    QCheckBox *toggle() const { return sheet->findChild<QCheckBox *>(u"demoMode"_s); }
    QLabel *errorLine() const { return sheet->findChild<QLabel *>(u"error"_s); }
    void present()
    {
        sheet->open();
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
    }
    void save() { sheet->findChild<QPushButton *>(u"save"_s)->click(); }

private Q_SLOTS:
    void init()
    {
        files = std::make_unique<test::TempNodeFiles>(loopbackNodes());
        store = std::make_unique<MonitorStore>(files->locations());
        window = std::make_unique<QWidget>();
        window->show();
        sheet = new SettingsView(store.get(), window.get());
    }
    void cleanup()
    {
        window.reset();
        test::waitIdle(*store);
        store.reset();
    }

    // Tab leaves the editor instead of typing a tab; Enter keeps the line's indentation of spaces;
    // Escape still reaches the sheet and dismisses it.
    void editorKeys()
    {
        present();
        editor()->setPlainText(u"[\n    {"_s);
        editor()->moveCursor(QTextCursor::End);
        editor()->setFocus();
        QTRY_VERIFY(editor()->hasFocus());
        QTest::keyClick(editor(), Qt::Key_Return);
        QTest::keyClicks(editor(), u"\"id\""_s);
        QTest::keyClick(editor(), Qt::Key_Tab);
        QVERIFY(!editor()->hasFocus());
        QCOMPARE(editor()->toPlainText(), u"[\n    {\n    \"id\""_s);
        QTest::keyClick(editor(), Qt::Key_Escape);
        QVERIFY(!sheet->isVisible());
    }

    // While open, the sheet keeps its working copies whatever the store publishes; cancel applies
    // nothing, and each presentation loads afresh.
    void workingCopyAndCancel()
    {
        present();
        const QString first = editor()->toPlainText();
        QCOMPARE(std::get<QList<ServerNode>>(decodeNodeList(first.toUtf8())), loopbackNodes());
        const QString edited = u"[%1, %1, %1]"_s.arg(oneNode);
        editor()->setPlainText(edited);
        toggle()->setChecked(true);
        QList<ServerNode> renamed = loopbackNodes();
        renamed[0].name = u"changed"_s;
        store->apply(renamed, false);
        QCoreApplication::processEvents();
        QCOMPARE(editor()->toPlainText(), edited);
        QVERIFY(toggle()->isChecked());

        for (QPushButton *b : sheet->findChildren<QPushButton *>())
            if (b->text() == u"取消"_s) b->click();
        QCOMPARE(store->nodes().first().node, renamed.first());
        QVERIFY(!store->demoMode());
        present();
        QCOMPARE(editor()->toPlainText(), QString(first).replace(u"甲"_s, u"changed"_s));
        QVERIFY(!toggle()->isChecked());
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // part of the error line
        QTest::newRow("four nodes") << u"[%1, %1, %1, %1]"_s.arg(oneNode) << countMessage;
        QTest::newRow("id as a number")
            << u"[%1, %1, {\"id\": 7, \"name\": \"n\", \"address\": \"a\", \"token\": \"\"}]"_s.arg(oneNode)
            << u"$[2].id: expected a string"_s;
        QTest::newRow("whole file record")
            << u"{\"refresh_interval\": 10, \"nodes\": [%1, %1, %1]}"_s.arg(oneNode)
            << u"$: expected an array"_s;
        // The place of a syntax error counts characters, so Chinese before it does not shift it.
        QTest::newRow("error after Chinese") << u"[\n  {\"name\": \"东京节点\", \"id\": tru}\n]"_s
                                             << u"JSON syntax error at line 2, column 29"_s;
        QTest::newRow("address with user info")
            << u"[%1, %1, %2]"_s.arg(oneNode, QString(oneNode).replace(u"//"_s, u"//u:p@"_s))
            << u"地址不能含有用户名或密码（user:password@）"_s;
        QTest::newRow("lone surrogate") << u"[\""_s + QChar(0xD800) + u"\"]"_s << u"JSON 编码失败"_s;
    }
    // A refused save keeps the sheet open with the operator's text and applies nothing.
    void rejected()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        present();
        editor()->setPlainText(text);
        toggle()->setChecked(true);
        save();
        QVERIFY(sheet->isVisible() && errorLine()->isVisibleTo(sheet));
        QVERIFY2(errorLine()->text().contains(message), qPrintable(errorLine()->text()));
        QCOMPARE(editor()->toPlainText(), text);
        QCOMPARE(store->nodes().first().node, loopbackNodes().first());
        QVERIFY(!store->demoMode());
    }

    // A refused save's message, however long, wraps within the sheet; a corrected save with the toggle
    // closes it and applies both, unknown members gone; the next presentation shows no stale message.
    void correctedSave()
    {
        present();
        QString good = editor()->toPlainText();
        good.replace(u"\"token\""_s, u"\"port\": 9100, \"tags\": [1], \"token\""_s);
        good.replace(u"\"甲\""_s, u"\"甲-新\""_s);
        editor()->setPlainText(u"[]"_s);
        save();
        QCOMPARE(errorLine()->text(), countMessage);
        errorLine()->setText(u"$."_s + QString(300, u'x') + u": expected a string, "_s.repeated(20));
        sheet->adjustSize();
        QCoreApplication::processEvents();
        QVERIFY(errorLine()->height() > 3 * errorLine()->fontMetrics().height());

        editor()->setPlainText(good);
        toggle()->setChecked(true);
        save();
        QVERIFY(!sheet->isVisible() && store->demoMode());
        QCOMPARE(store->nodes().first().node.name, u"甲-新"_s);
        present();
        QVERIFY(!errorLine()->isVisibleTo(sheet));
        QVERIFY(!editor()->toPlainText().contains(u"port"_s) && editor()->toPlainText().contains(u"甲-新"_s));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
