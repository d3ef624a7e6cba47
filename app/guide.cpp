// The guide window and the about box's text.

#include "app/guide.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>
#include <QVector>

namespace {

const char kGuideName[] = "使用说明.md";

// The guide's pictures show the whole window, wider than a laptop screen
// leaves the guide: a picture wider than the view is drawn at the view's
// width (and grows back with the window), so the guide scrolls only down.
class GuideBrowser : public QTextBrowser
{
public:
    explicit GuideBrowser(QWidget *parent)
        : QTextBrowser(parent)
    {}

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QTextBrowser::resizeEvent(event);
        fitPictures();
    }

private:
    QSize naturalSize(const QString &name) const
    {
        const QVariant data = document()->resource(QTextDocument::ImageResource, QUrl(name));
        if (data.userType() == QMetaType::QImage)
            return data.value<QImage>().size();
        if (data.userType() == QMetaType::QPixmap)
            return data.value<QPixmap>().size();
        return QImage::fromData(data.toByteArray()).size();
    }

    void fitPictures()
    {
        const int room = viewport()->width() - 2 * int(document()->documentMargin());
        if (room <= 0 || room == m_room)
            return;
        m_room = room;
        // Gathered first: a new format may split or merge the fragments walked.
        struct Picture
        {
            int position;
            int length;
            QTextImageFormat format;
        };
        QVector<Picture> pictures;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (fragment.charFormat().isImageFormat())
                    pictures.append({fragment.position(), fragment.length(),
                                     fragment.charFormat().toImageFormat()});
            }
        }
        for (Picture &picture : pictures) {
            const QSize natural = naturalSize(picture.format.name());
            if (natural.isEmpty())
                continue;
            const int width = qMin(natural.width(), room);
            picture.format.setWidth(width);
            picture.format.setHeight(qreal(natural.height()) * width / natural.width());
            QTextCursor cursor(document());
            cursor.setPosition(picture.position);
            cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture.format);
        }
    }

    int m_room = -1; // the width the pictures were last fitted to
};

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
    auto *text = new GuideBrowser(window);
    text->setObjectName(QStringLiteral("guideText"));
    text->setOpenExternalLinks(true);
    // The pictures are named relative to the guide's folder.
    text->setSearchPaths({QFileInfo(file).absolutePath()});
    text->setSource(QUrl::fromLocalFile(file), QTextDocument::MarkdownResource);
    text->document()->setUndoRedoEnabled(false); // fitting the pictures is no edit
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
