// A window polling the simulated unit over and over, for the fault suite to
// kill. Prints the path of its session record ("RECORD\t…"), then every line
// its windows show, the moment they show it ("报文\t…" or "结果\t…"), so the
// killer knows what the engineer had seen. Stops by itself after a minute.
//
//   poll_until_killed DATA_HOME

#include "support/unitonline.h"
#include "support/windowdriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// The blocks not yet printed are the last ones: the window only appends, and
// drops its oldest blocks beyond its limit.
void watch(QPlainTextEdit *view, const QString &mark)
{
    const auto printNew = [view, mark] {
        if (view->document()->isEmpty())
            return;
        QVector<QTextBlock> fresh;
        for (QTextBlock b = view->document()->lastBlock(); b.isValid() && b.userState() != 1;
             b = b.previous())
            fresh.prepend(b);
        for (QTextBlock b : fresh) {
            say(mark + QLatin1Char('\t') + b.text());
            b.setUserState(1);
        }
    };
    printNew();
    QObject::connect(view, &QPlainTextEdit::textChanged, printNew);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // Set after the application object, whose start-up chose a folder of its own.
    qputenv("XDG_DATA_HOME", argv[1]);
    BenchRig rig;
    if (!rig.ready())
        return 3;
    rig.selectModule(QStringLiteral("1"));
    rig.window().findChild<QTreeWidget *>()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    say(QStringLiteral("RECORD\t") + MainWindowProbe::sessionFile(rig.window()));
    watch(widget<QPlainTextEdit>(rig.window(), "textBrowser"), QStringLiteral("报文"));
    watch(widget<QPlainTextEdit>(rig.window(), "textBrowser_val"), QStringLiteral("结果"));

    QTimer::singleShot(0, [&rig] {
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 60000)
            rig.click("pushButton");
        QCoreApplication::exit(4);
    });
    return app.exec();
}
