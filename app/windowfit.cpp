// The window's size and place on its screen, and the scroll area that keeps
// its content reachable on a small screen.

#include "app/windowfit.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>

QRect fittedWindowGeometry(const QRect &available, const QSize &preferred, const QMargins &frame)
{
    const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize room = (available.size() - frameSize).expandedTo(QSize(1, 1));
    const QSize inner = preferred.boundedTo(room);
    const QRect outer
        = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, inner + frameSize, available);
    return outer.marginsRemoved(frame);
}

void fitWindowToScreen(QWidget *window, const QSize &preferred)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QMargins frame = kFrameAllowance;
    if (window->isVisible()) {
        const QRect outer = window->frameGeometry();
        const QRect inner = window->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    const QRect geometry = fittedWindowGeometry(screen->availableGeometry(), preferred, frame);
    window->setMinimumSize(window->minimumSize().boundedTo(geometry.size()));
    window->setGeometry(geometry);
}

void letContentScroll(QMainWindow *window)
{
    auto *scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("contentScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true); // the content fills the window where it can
    scroll->setWidget(window->takeCentralWidget());
    window->setCentralWidget(scroll);
}
