// Runs over many requests (the read test, the all-modules commands): the step
// in the status bar, the stop button, and the summary at the end.

#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// Ends the run after the exchange in progress: its reply is still read and shown.
void MainWindow::on_pushButton_stop_clicked()
{
    endOperationEarly(OperationState::StopRequested);
}

void MainWindow::beginRun(int total)
{
    m_run = Run();
    m_run.total = total;
    m_run.clock.start();
    ui->pushButton_stop->setEnabled(true);
}

void MainWindow::showRunStep(const QString &text)
{
    ui->label_progress->setText(text);
}

void MainWindow::countInRun(const ReplyVerdict &verdict)
{
    m_run.tally.add(verdict);
}

void MainWindow::finishRun()
{
    ui->pushButton_stop->setEnabled(false);
    ui->label_progress->clear();
    const int done = m_run.tally.done();
    if (m_operation == OperationState::WindowClosing)
        return; // no one is left to read it
    if (m_operation == OperationState::StopRequested && done < m_run.total)
        resultLine(stoppedLine(done, m_run.total), Tone::Bad);
    reportOperationEnd();
    resultLine(summaryLine(m_run.tally, m_run.clock.elapsed()));
}
