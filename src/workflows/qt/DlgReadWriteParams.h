#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <thread>

#include "workflows/Jobs.h"

class QProgressBar;
class QPushButton;
class QShowEvent;

// The progress dialog of a receive or a send (dialog 132): opens the link,
// runs the job on a worker thread, shows its progress and closes the link at
// the job's end. It ends with Accepted when the job was done, with Rejected
// when it was stopped, failed, or could not start (the port: text 32; a
// communication error: text 33).
//
// Receive (job count 0): the worker alone uses the unit record and reads the
// identification, the global parameters and the rows into it. A failed
// receive leaves the record with no zones.
//
// Send (job count > 0, the number of change-list entries): the worker never
// touches the unit record. For grid k = 0, 1, 2 and entry j = 0, 1, ... it
// asks sendEntry(k, j) on the user-interface thread (WM_USER+5), which makes
// the exchange there and answers with an EntryResult. A send in which
// any entry got no answer ends as a communication error after the last
// entry. At the end, before the dialog closes, sendEntry(-1, result) tells
// the main window the job's result, a JobResult as its number.
//
// Wait for the unit (WaitForUnitJob): the worker polls the unit after it was
// told to load its standard parameters (RunWaitForUnit) and the bar shows the
// polls against their limit. Whether the unit came back, the limit or the
// time ran out, or the user cancelled, the dialog ends with Accepted: the
// caller goes on with the receive either way. A port that cannot be opened
// ends it at once and without a message; the receive that follows reports it.
//
// Cancel (button, Escape, window close) asks the worker to stop after its
// current step; the dialog stays until the worker has ended.
class CDlgReadWriteParams : public QDialog
{
    Q_OBJECT
public:
    using SendEntry = std::function<EntryResult(int nGrid, int nEntry)>;
    struct WaitForUnitJob
    {
        int nMaxWaitMs = 60000;
    };

    // Without sendEntry a send finds every list empty.
    CDlgReadWriteParams(int nJobCount, QWidget* parent = nullptr);
    CDlgReadWriteParams(int nJobCount, SendEntry sendEntry, QWidget* parent = nullptr);
    CDlgReadWriteParams(WaitForUnitJob job, QWidget* parent = nullptr);
    // Stops a worker that still runs (serving its calls until it has ended)
    // and closes a link left open.
    ~CDlgReadWriteParams() override;

    // 0x4CA: the range 0 .. job count for a send, 0 .. nTotal for a receive.
    void OnTransferRange(int nTotal);
    // 0x4CB: a receive's position, or one more entry of a send. The position
    // stays within the range.
    void OnTransferStep(int nPosition);
    // 0x4C8 (posted): the job has ended with nResult, a JobResult's number.
    void OnTransferFinished(int nResult);

    bool IsSend() const { return m_nJobCount != 0; }
    bool IsWaitForUnit() const { return m_nMaxWaitMs >= 0; }
    // The job's result once it has ended; none before (or when it never ran).
    std::optional<JobResult> GetJobResult() const { return m_jobResult; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool OnInitDialog();
    void StartWorker();
    void ReceiveMain();
    void SendMain();
    void WaitMain();
    void PostFinished(JobResult result);

    QProgressBar* m_progress;  // 1101
    QPushButton* m_btnCancel;  // 2
    std::thread m_worker;
    int m_nJobCount;
    int m_nMaxWaitMs = -1;  // -1: not a wait

    SendEntry m_sendEntry;
    bool m_bInitialised = false;
    bool m_bWorkerRunning = false;
    std::optional<JobResult> m_jobResult;
};
