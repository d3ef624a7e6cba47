#pragma once

// The guide for the engineers (使用说明.md, with its pictures) and the about
// box's text: free functions over widgets, for the 帮助 menu.

#include <QString>
#include <QStringList>

class QWidget;

// Where the guide may be, in the order looked at: beside the program (the
// Windows folder), in the installed data folder (the Debian package), in the
// source tree (a build run in place).
QStringList guideCandidates();
// The first of them that exists, or "".
QString guideFile();
// Shows the guide in a window of its own beside parent (raised when it is
// already open); a message box names the places looked at when there is none.
void showGuide(QWidget *parent);

// "FeederBench[1.0]_[2026-12-07 10:30:00]" and where the records are kept.
QString aboutText(const QString &title, const QString &provisioningRecord,
                  const QString &sessionFolder);
