// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "app/NodeSidebarRow.h"
#include "ui/Style.h"

#include <QLabel>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

namespace {

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor &c)
{
    auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A translucent fill as it shows over an opaque one.
QColor over(const QColor &top, const QColor &below)
{
    const double a = top.alphaF();
    auto mix = [a](double t, double b) { return float(a * t + (1 - a) * b); };
    return QColor::fromRgbF(mix(top.redF(), below.redF()), mix(top.greenF(), below.greenF()),
                            mix(top.blueF(), below.blueF()));
}

} // namespace

class TestStyle : public QObject
{
    Q_OBJECT

    test::FakeAgent agent;
    std::unique_ptr<test::TempNodeFiles> files;

    // A shown window after one refresh: an online, a warning and a critical node.
    std::unique_ptr<ContentView> window(bool detail)
    {
        auto view = std::make_unique<ContentView>(files->locations());
        view->resize(1180, 760);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()) || !test::waitIdle(*view->store())) return nullptr;
        if (detail) QTest::mouseClick(view->findChildren<NodeSidebarRow *>().at(2), Qt::LeftButton);
        // The only text that depends on the moment of the refresh, set once the refresh's own
        // posted updates have run (they would write the time back).
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 4; ++i) // the updates and layouts a change posts, and those they post
                QCoreApplication::processEvents();
            view->findChild<QLabel *>(u"updated"_s)->setText(u"更新于 10:00:00"_s);
        }
        return view;
    }

private Q_SLOTS:
    void initTestCase()
    {
        applyLook(*qApp);
        const QStringList severities[] = {{}, {u"warning"_s}, {u"warning"_s, u"critical"_s}};
        QList<ServerNode> nodes;
        for (int i = 0; i < 3; ++i) {
            const QString path = u"/n"_s + QString::number(i);
            agent.setRoute(path.toUtf8(), {200, test::replyBody(test::sampleReading(20 + i, severities[i]))});
            nodes.append({path, u"节点 "_s + QString::number(i), agent.url(path), {}});
        }
        files = std::make_unique<test::TempNodeFiles>(nodes);
    }

    // Every text colour of the look against every background it is drawn on, in both schemes: at
    // least 4.5:1. Selection lies over the sidebar.
    void textContrast()
    {
        using R = ColorRole;
        const QList<R> status{R::CardBackground, R::WindowBackground};
        const QList<R> everywhere =
            status + QList<R>{R::SidebarBackground, R::EditorBackground, R::Selection};
        const std::pair<R, QList<R>> pairs[] = {{R::PrimaryText, everywhere}, {R::SecondaryText, everywhere},
                                                {R::GreenText, status},       {R::OrangeText, status},
                                                {R::RedText, status},         {R::GrayText, status},
                                                {R::AccentText, {R::Accent}}};
        for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
            for (const auto &[text, backgrounds] : pairs) {
                for (ColorRole background : backgrounds) {
                    QColor fill = color(background, scheme);
                    if (background == R::Selection) fill = over(fill, color(R::SidebarBackground, scheme));
                    const QString what =
                        u"%1 on %2 in %3"_s.arg(int(text)).arg(int(background)).arg(int(scheme));
                    QVERIFY2(contrast(color(text, scheme), fill) >= 4.5, qPrintable(what));
                }
            }
        }
    }

    // Switching live, on the overview and on a node's page, gives the same pixels as a window opened
    // in the new scheme, and the status texts stay readable.
    void liveSwitch()
    {
        for (bool detail : {false, true}) {
            auto first = window(detail);
            QVERIFY(first);
            const QImage light = first->grab().toImage();
            Appearance::instance()->setScheme(ColorScheme::Dark);
            const QImage switched = first->grab().toImage();
            const QList<QLabel *> statuses = first->findChildren<QLabel *>(u"status"_s);
            QVERIFY(statuses.size() >= 3);
            for (const QLabel *l : statuses)
                for (ColorRole fill : {ColorRole::CardBackground, ColorRole::WindowBackground})
                    QVERIFY2(contrast(l->palette().color(QPalette::WindowText), color(fill)) >= 4.5,
                             qPrintable(l->text()));
            first.reset();

            auto second = window(detail);
            QVERIFY(second);
            const QImage dark = second->grab().toImage();
            QVERIFY(dark != light);
            QVERIFY2(switched == dark, detail ? "node page" : "overview");
            Appearance::instance()->setScheme(ColorScheme::Light);
            QVERIFY(second->grab().toImage() == light);
        }
    }
};

QTEST_MAIN(TestStyle)
#include "tst_style.moc"
