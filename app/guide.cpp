// The guide window and the about box's text.

#include "app/guide.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char kGuideName[] = "使用说明.md";

} // namespace

QStringList guideCandidates()
{
    const QString name = QString::fromUtf8(kGuideName);
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList places = {
        programDir + QLatin1Char('/') + name,
        programDir + QStringLiteral("/../share/feederbench/") + name,
    };
#ifdef FEEDERBENCH_SOURCE_DOCS
    places << QStringLiteral(FEEDERBENCH_SOURCE_DOCS "/") + name;
#endif
    for (QString &place : places)
        place = QDir::cleanPath(place);
    return places;
}

QString guideFile()
{
    for (const QString &place : guideCandidates()) {
        if (QFileInfo(place).isFile())
            return place;
    }
    return QString();
}

void showGuide(QWidget *parent)
{
    if (auto *open = parent->findChild<QDialog *>(QStringLiteral("guideWindow"))) {
        open->show();
        open->raise();
        open->activateWindow();
        return;
    }
    const QString file = guideFile();
    if (file.isEmpty()) {
        QStringList places;
        for (const QString &place : guideCandidates())
            places << QDir::toNativeSeparators(place);
        QMessageBox::warning(parent, QStringLiteral("使用说明"),
                             QStringLiteral("找不到使用说明，查找过：\n%1").arg(places.join('\n')));
        return;
    }
    auto *window = new QDialog(parent);
    window->setObjectName(QStringLiteral("guideWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("使用说明"));
    auto *text = new QTextBrowser(window);
    text->setObjectName(QStringLiteral("guideText"));
    text->setOpenExternalLinks(true);
    // The pictures are named relative to the guide's folder.
    text->setSearchPaths({QFileInfo(file).absolutePath()});
    text->setSource(QUrl::fromLocalFile(file), QTextDocument::MarkdownResource);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
    window->resize(900, 700);
    window->show();
}

QString aboutText(const QString &title, const QString &provisioningRecord,
                  const QString &sessionFolder)
{
    return QStringLiteral(
               "%1\n\n直流配电单元的测试与写号工具。\n\n生产记录：%2\n会话记录文件夹：%3")
        .arg(title, provisioningRecord, QDir::toNativeSeparators(sessionFolder));
}
