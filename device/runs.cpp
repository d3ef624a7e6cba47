// Runs over many requests (the read test, the all-modules commands, the test
// plan): the step in the status bar, the stop button, and the summary at the end.

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
    // A closed port is offered to be opened before the run says anything:
    // Cancel, or an open that fails, then ends it with its one line.
    if (total > 0 && !portUsable())
        readyToSend();
}

void MainWindow::showRunStep(const QString &text)
{
    ui->label_progress->setText(text);
}

void MainWindow::countInRun(const ReplyVerdict &verdict)
{
    m_run.tally.add(verdict);
}

void MainWindow::endRun()
{
    ui->pushButton_stop->setEnabled(false);
    ui->label_progress->clear();
}

void MainWindow::finishRun()
{
    endRun();
    const int done = m_run.tally.done();
    if (m_operation == OperationState::WindowClosing)
        return; // no one is left to read it
    if (m_operation == OperationState::StopRequested && done < m_run.total)
        resultLine(stoppedLine(done, m_run.total), Tone::Bad);
    reportOperationEnd();
    // A run that never had a port to talk through has nothing to sum up.
    const bool neverStarted = done == 0
                              && (m_operation == OperationState::Cancelled
                                  || m_operation == OperationState::OpenFailed);
    if (!neverStarted)
        resultLine(summaryLine(m_run.tally, m_run.clock.elapsed()));
}
