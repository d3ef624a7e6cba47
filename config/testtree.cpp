// The device list shown as the check-box test tree, with its context menu.

#include "app/mainwindow.h"
#include "config/devicelist.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace {

constexpr int kRootUserData = 999; // not an entry index: the poll skips it

QTreeWidgetItem *newTreeItem(QTreeWidgetItem *parent, const QString &text, int userData)
{
    auto *item = new QTreeWidgetItem(parent, QStringList(text));
    item->setData(0, Qt::UserRole, userData);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

} // namespace

void MainWindow::build_test_tree()
{
    appendTrafficLines(load_device_list());

    treeWidget = ui->treeWidget;
    rootItem = new QTreeWidgetItem(treeWidget, QStringList(QStringLiteral("所有")));
    rootItem->setData(0, Qt::UserRole, kRootUserData);
    rootItem->setCheckState(0, Qt::Unchecked);

    const QVector<DeviceGroup> groups = deviceGroups();
    for (const DeviceGroup &group : groups) {
        QTreeWidgetItem *groupItem
            = newTreeItem(rootItem, deviceTable[group.header].des, group.header);
        for (int entry : group.entries)
            newTreeItem(groupItem, deviceTable[entry].des, entry);
        groupItem->setExpanded(true);
    }
    rootItem->setExpanded(true);

    // Connected only now: building the tree must not run the propagation.
    connect(treeWidget, &QTreeWidget::itemChanged, this, &MainWindow::ItemCheckChanged);

    treeMenu = new QMenu(treeWidget);
    treeWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(treeMenu->addAction(QStringLiteral("选中所有")), &QAction::triggered, this,
            &MainWindow::slotMenuPopup_all);
    connect(treeMenu->addAction(QStringLiteral("取消所有")), &QAction::triggered, this,
            &MainWindow::slotMenuPopup_no);
    connect(treeMenu->addAction(QStringLiteral("选中测试")), &QAction::triggered, this,
            &MainWindow::on_pushButton_clicked);
    connect(treeWidget, &QWidget::customContextMenuRequested, this, &MainWindow::slotMenuPopup);
}

// Every state set here raises itemChanged again and comes back through this
// slot: a group pushes its state down, each leaf then re-evaluates the group.
// A state that does not change raises nothing, which ends the chain.
void MainWindow::ItemCheckChanged(QTreeWidgetItem *item, int column)
{
    if (column != 0)
        return;
    const Qt::CheckState state = item->checkState(0);
    if (state == Qt::PartiallyChecked)
        return;
    if (item->childCount() == 0) {
        update_parent_check(item);
        return;
    }
    for (int i = 0; i < item->childCount(); ++i)
        item->child(i)->setCheckState(0, state);
}

void MainWindow::update_parent_check(QTreeWidgetItem *item)
{
    QTreeWidgetItem *parent = item->parent();
    if (!parent)
        return;
    int checked = 0;
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i)->checkState(0) == Qt::Checked)
            ++checked;
    }
    if (checked == 0)
        parent->setCheckState(0, Qt::Unchecked);
    else if (checked == parent->childCount())
        parent->setCheckState(0, Qt::Checked);
    else
        parent->setCheckState(0, Qt::PartiallyChecked);
}

// The request's position is in the viewport's coordinates (the tree scrolls),
// so the viewport maps it: the menu then opens where the engineer clicked.
void MainWindow::slotMenuPopup(const QPoint &pos)
{
    treeMenu->exec(treeWidget->viewport()->mapToGlobal(pos));
}

void MainWindow::slotMenuPopup_all()
{
    rootItem->setCheckState(0, Qt::Checked);
    ItemCheckChanged(rootItem, 0);
}

void MainWindow::slotMenuPopup_no()
{
    rootItem->setCheckState(0, Qt::Unchecked);
    ItemCheckChanged(rootItem, 0);
}

void MainWindow::on_treeWidget_clicked(const QModelIndex &) {}

void MainWindow::on_treeWidget_customContextMenuRequested(const QPoint &) {}
