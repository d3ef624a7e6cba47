// The test tree built from config.ini, its check-state propagation and its
// context menu, in a real window.

#include "config/devicelist.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

// A list of entries given as "des:type", registers counted up from 0x0700.
QByteArray deviceList(const QStringList &entries)
{
    QByteArray ini = "[comm]\ncount=" + QByteArray::number(entries.size()) + '\n';
    for (int i = 0; i < entries.size(); ++i) {
        const QStringList parts = entries.at(i).split(QLatin1Char(':'));
        ini += iniSection(i, QByteArray::number(0x0700 + i, 16), parts.at(0).toUtf8(),
                          parts.at(1).toInt());
    }
    return ini;
}

// One line per item: indentation by depth, text, user data, check state, "+" when expanded.
QStringList treeLines(MainWindow &w)
{
    return treeTexts(w, [](const QTreeWidgetItem *item) {
        return QStringLiteral("%1 #%2 [%3]%4")
            .arg(item->text(0), item->data(0, Qt::UserRole).toString(),
                 QString::number(item->checkState(0)),
                 item->isExpanded() ? QStringLiteral(" +") : QString());
    });
}

// "name=state" for every item in tree order.
QString checkStates(MainWindow &w)
{
    QStringList out;
    QTreeWidget *tree = widget<QTreeWidget>(w, "treeWidget");
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        out << QStringLiteral("%1=%2").arg((*it)->text(0)).arg(int((*it)->checkState(0)));
    return out.join(QLatin1Char(' '));
}

QTreeWidgetItem *itemNamed(MainWindow &w, const QString &text)
{
    QTreeWidget *tree = widget<QTreeWidget>(w, "treeWidget");
    const QList<QTreeWidgetItem *> found
        = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QAction *menuAction(MainWindow &w, const QString &text)
{
    auto *menu = widget<QTreeWidget>(w, "treeWidget")->findChild<QMenu *>();
    if (!menu)
        return nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class tst_TestTree : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDir> m_dir;

    void writeFile(const QString &name, const QByteArray &content)
    {
        QVERIFY(m_dir->write(name, content));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(m_dir->isValid());
        // An empty table leaves the traffic window to the tree's own lines.
        writeFile(QStringLiteral("mac.csv"), QByteArray());
    }

    void cleanup() { m_dir.reset(); }

    void treeShape_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("traffic");

        QTest::newRow("no config.ini: only the root, one format error")
            << QByteArray() << QStringList{"所有 #999 [0] +"}
            << QStringList{":输入的数据格式有错误！"};

        QTest::newRow("entries before the first group are not shown")
            << deviceList({"x:0", "y:1", "G:10", "a:0", "b:4"})
            << QStringList{"所有 #999 [0] +", "  G #2 [0] +", "    a #3 [0]", "    b #4 [0]"}
            << QStringList{};

        QTest::newRow("type 9 ends a group; readable entries after it stay hidden")
            << deviceList({"G:10", "a:0", "end:9", "hidden:0", "H:10", "b:8"})
            << QStringList{"所有 #999 [0] +", "  G #0 [0] +", "    a #1 [0]", "  H #4 [0] +",
                           "    b #5 [0]"}
            << QStringList{};

        QTest::newRow("two headers in a row, header as the last entry: empty groups")
            << deviceList({"G:10", "H:11", "a:3", "I:10"})
            << QStringList{"所有 #999 [0] +", "  G #0 [0] +", "  H #1 [0] +", "    a #2 [0]",
                           "  I #3 [0] +"}
            << QStringList{};

        QTest::newRow("bad reg: entries from it on shown with empty names")
            << QByteArray("[comm]\ncount=4\n") + iniSection(0, "0", "G", 10, 0)
                   + iniSection(1, "0704", "a", 0) + iniSection(2, "zz", "b", 0)
                   + iniSection(3, "0805", "c", 0)
            << QStringList{"所有 #999 [0] +", "  G #0 [0] +", "    a #1 [0]", "     #2 [0]",
                           "     #3 [0]"}
            << QStringList{"zz:输入的数据格式有错误！"};

        QTest::newRow("count 0: only the root")
            << QByteArray("[comm]\ncount=0\n") + iniSection(0, "0", "G", 10)
            << QStringList{"所有 #999 [0] +"} << QStringList{};
    }

    void treeShape()
    {
        QFETCH(QByteArray, ini);
        if (!ini.isNull())
            writeFile(QStringLiteral("config.ini"), ini);

        MainWindow w;
        QTEST(treeLines(w), "tree");
        QTEST(trafficLines(w), "traffic");
    }

    void countAboveFiftyShowsFiftyEntries()
    {
        QStringList entries{"G:10"};
        for (int i = 1; i < 60; ++i)
            entries << QStringLiteral("e%1:0").arg(i);
        writeFile(QStringLiteral("config.ini"), deviceList(entries));

        MainWindow w;
        const QStringList lines = treeLines(w);
        QCOMPARE(lines.size(), 1 + 1 + 49); // root, group, leaves dev01 … dev49
        QCOMPARE(lines.last(), QStringLiteral("    e49 #49 [0]"));
        QCOMPARE(trafficLines(w), QStringList{QStringLiteral(
                                      "设备列表的条目数60超过上限50，dev50及以后的条目已忽略")});
    }

    // The sample list holds every register the tool reads, under four headers.
    void exampleConfigTree()
    {
        QVERIFY(QFile::copy(sourceDir() + QStringLiteral("/examples/config.ini"),
                            QStringLiteral("config.ini")));

        MainWindow w;
        QCOMPARE(trafficLines(w), QStringList{});
        QTreeWidgetItem *root = widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0);
        QStringList groups;
        for (int g = 0; g < root->childCount(); ++g) {
            QTreeWidgetItem *group = root->child(g);
            QVERIFY(!group->text(0).isEmpty());
            QVERIFY(deviceTable[group->data(0, Qt::UserRole).toInt()].type >= kGroupHeaderType);
            QStringList leaves;
            for (int i = 0; i < group->childCount(); ++i) {
                QTreeWidgetItem *leaf = group->child(i);
                const DeviceEntry &e = deviceTable[leaf->data(0, Qt::UserRole).toInt()];
                QVERIFY(!leaf->text(0).isEmpty());
                QCOMPARE(leaf->text(0), e.des);
                const QString reg
                    = QStringLiteral("%1").arg(e.base, 4, 16, QLatin1Char('0')).toUpper();
                leaves << QStringLiteral("%1 t%2 n%3 d%4")
                              .arg(reg)
                              .arg(e.type)
                              .arg(e.regnum)
                              .arg(e.xsws);
            }
            groups << leaves.join(QStringLiteral(", "));
        }
        const QStringList expected{
            "0704 t0 n1 d0, 070F t4 n1 d0",
            "0805 t0 n1 d1, 0806 t0 n1 d1, 080E t0 n1 d1",
            "0808 t0 n1 d0, 0809 t0 n1 d0, 080A t0 n1 d0, "
            "080B t0 n1 d0, 080C t0 n1 d0, 080D t0 n1 d0",
            "080F t8 n4 d0",
        };
        QCOMPARE(groups, expected);
    }

    void checkPropagation_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("states");

        QTest::newRow("ticking the last unticked leaf checks the group")
            << QStringList{"tick a0", "tick a1", "tick a2"}
            << "所有=0 A=2 a0=2 a1=2 a2=2 B=0 b0=0 b1=0";
        QTest::newRow("some leaves ticked: group partial")
            << QStringList{"tick a0", "tick a2"} << "所有=0 A=1 a0=2 a1=0 a2=2 B=0 b0=0 b1=0";
        QTest::newRow("ticking a group ticks its leaves; the root does not follow")
            << QStringList{"tick A", "tick B"} << "所有=0 A=2 a0=2 a1=2 a2=2 B=2 b0=2 b1=2";
        QTest::newRow("unticking one leaf of a checked group: partial")
            << QStringList{"tick A", "untick a1"} << "所有=0 A=1 a0=2 a1=0 a2=2 B=0 b0=0 b1=0";
        QTest::newRow("unticking all leaves unchecks the group")
            << QStringList{"tick A", "untick a0", "untick a1", "untick a2"}
            << "所有=0 A=0 a0=0 a1=0 a2=0 B=0 b0=0 b1=0";
        QTest::newRow("unticking a group unticks its leaves")
            << QStringList{"tick b0", "tick b1", "untick B"}
            << "所有=0 A=0 a0=0 a1=0 a2=0 B=0 b0=0 b1=0";
        QTest::newRow("选中所有 checks every item")
            << QStringList{"menu 选中所有"} << "所有=2 A=2 a0=2 a1=2 a2=2 B=2 b0=2 b1=2";
        QTest::newRow("选中所有 then 取消所有 leaves all unchecked")
            << QStringList{"tick a1", "menu 选中所有", "menu 取消所有"}
            << "所有=0 A=0 a0=0 a1=0 a2=0 B=0 b0=0 b1=0";
    }

    void checkPropagation()
    {
        QFETCH(QStringList, steps);
        writeFile(QStringLiteral("config.ini"),
                  deviceList({"A:10", "a0:0", "a1:0", "a2:0", "B:10", "b0:0", "b1:0"}));
        MainWindow w;

        for (const QString &step : steps) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0);
            const QString target = step.section(QLatin1Char(' '), 1);
            if (verb == QLatin1String("menu")) {
                QAction *action = menuAction(w, target);
                QVERIFY2(action, qPrintable(target));
                action->trigger();
            } else {
                QTreeWidgetItem *item = itemNamed(w, target);
                QVERIFY2(item, qPrintable(target));
                // What the view does when the check box is clicked.
                item->setCheckState(0, verb == QLatin1String("tick") ? Qt::Checked : Qt::Unchecked);
            }
        }
        QTEST(checkStates(w), "states");
    }

    void contextMenuOpensOnRequest()
    {
        writeFile(QStringLiteral("config.ini"), deviceList({"A:10", "a0:0"}));
        MainWindow w;
        auto *tree = widget<QTreeWidget>(w, "treeWidget");
        auto *menu = tree->findChild<QMenu *>();
        QVERIFY(menu);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{"选中所有", "取消所有", "选中测试"}));

        // The menu runs its own loop; it is looked at and closed from inside it.
        QWidget *shown = nullptr;
        QTimer::singleShot(0, [&shown] {
            shown = QApplication::activePopupWidget();
            if (shown)
                shown->close();
        });
        const QPoint pos(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(tree->viewport(), &event);
        QCOMPARE(shown, static_cast<QWidget *>(menu));
    }
};

QTEST_MAIN(tst_TestTree)
#include "tst_testtree.moc"
