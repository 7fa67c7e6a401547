#include "workflows/qt/DlgReadWriteParams.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "config/StatusTexts.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/AutoResetEvent.h"
#include "platform/SafeFormat.h"
#include "platform/qt/Guard.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

constexpr int kTextSending = 21;
constexpr int kTextReceiving = 75;
constexpr int kTextCancel = 58;
constexpr int kTextPortFailed = 32;
constexpr int kTextCommError = 33;
constexpr int kTextWaitForUnit = 77;


// The receive job's reports, as the dialog's messages.
class ReceiveReporter : public IJobProgress
{
public:
    explicit ReceiveReporter(CDlgReadWriteParams* dialog) : m_dialog(dialog) {}

    void SetRange(int total) override
    {
        CDlgReadWriteParams* dialog = m_dialog;
        // 0x4CA (sent)
        SendGuarded(dialog, [dialog, total] { dialog->OnTransferRange(total); });
    }

    void SetPosition(int position) override
    {
        CDlgReadWriteParams* dialog = m_dialog;
        // 0x4CB (sent)
        SendGuarded(dialog, [dialog, position] { dialog->OnTransferStep(position); });
    }

    bool StopRequested() override { return TransferStopEvent().TryWait(); }

private:
    CDlgReadWriteParams* m_dialog;
};

}  // namespace

CDlgReadWriteParams::CDlgReadWriteParams(int nJobCount, QWidget* parent)
    : CDlgReadWriteParams(nJobCount, SendEntry(), parent)
{
}

CDlgReadWriteParams::CDlgReadWriteParams(int nJobCount, SendEntry sendEntry, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_nJobCount(std::max(nJobCount, 0)),
      m_sendEntry(std::move(sendEntry))
{
    setObjectName("132");

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("1101");
    // An empty bar until the job tells its range (0..0 would be a busy one).
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setMinimumWidth(240);

    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName("2");
    connect(m_btnCancel, &QPushButton::clicked, this, &CDlgReadWriteParams::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnCancel);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CDlgReadWriteParams::CDlgReadWriteParams(WaitForUnitJob job, QWidget* parent) : CDlgReadWriteParams(0, parent)
{
    m_nMaxWaitMs = std::max(job.nMaxWaitMs, 0);
    // Polls made of the most the wait makes.
    m_progress->setTextVisible(true);
    m_progress->setFormat(QStringLiteral("%v / %m"));
}

CDlgReadWriteParams::~CDlgReadWriteParams()
{
    if (m_bWorkerRunning) {
        TransferStopEvent().Set();
        ServeCallsWhile(m_bWorkerRunning);
    }
    if (m_worker.joinable())
        m_worker.join();
    if (TheUnit().IsPortOpen())
        TheUnit().ClosePort();
}

void CDlgReadWriteParams::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    bool bRunning = false;
    RunGuarded(this, [this, &bRunning] { bRunning = OnInitDialog(); });
    if (!bRunning && !m_bWorkerRunning) {
        if (TheUnit().IsPortOpen())
            TheUnit().ClosePort();
        RejectLater(*this);
    }
}

bool CDlgReadWriteParams::OnInitDialog()
{
    const CTextMemory& texts = TheTextMemory();
    if (IsWaitForUnit())
        setWindowTitle(Q(texts.GetTextOr(kTextWaitForUnit, "Loading standard parameters: waiting for the unit")));
    else
        setWindowTitle(Q(texts.GetText(IsSend() ? kTextSending : kTextReceiving)));
    m_btnCancel->setText(Q(texts.GetText(kTextCancel)));

    if (!TheUnit().OpenPort()) {
        // Nothing to wait for: the receive that follows tells of the port.
        if (IsWaitForUnit())
            return false;
        ShowMessageBox(this, texts.GetText(kTextPortFailed), texts.GetText(0), MsgIcon::Error);
        return false;
    }
    StartWorker();
    return true;
}

void CDlgReadWriteParams::StartWorker()
{
    // A Cancel that came after the last job's final test would otherwise
    // stop this one at its first.
    TransferStopEvent().Reset();
    if (IsWaitForUnit())
        m_worker = std::thread([this] { WaitMain(); });
    else if (IsSend())
        m_worker = std::thread([this] { SendMain(); });
    else
        m_worker = std::thread([this] { ReceiveMain(); });
    m_bWorkerRunning = true;
}

void CDlgReadWriteParams::ReceiveMain()
{
    JobResult result = JobResult::CommError;
    try {
        ReceiveReporter reporter(this);
        result = RunReceive(TheUnit(), reporter);
    } catch (...) {
        result = JobResult::CommError;
    }
    PostFinished(result);
}

void CDlgReadWriteParams::WaitMain()
{
    JobResult result = JobResult::Done;
    try {
        ReceiveReporter reporter(this);
        result = RunWaitForUnit(TheUnit(), reporter, m_nMaxWaitMs);
    } catch (...) {
        result = JobResult::Done;
    }
    PostFinished(result);
}

void CDlgReadWriteParams::SendMain()
{
    JobResult result = JobResult::Done;
    bool bNoAnswer = false;
    try {
        SendGuarded(this, [this] { OnTransferRange(0); });
        for (int k = 0; k < 3 && result == JobResult::Done; ++k) {
            for (int j = 0; j < kChangeListSize; ++j) {
                EntryResult handled = EntryResult::EndsList;
                // WM_USER+5: the exchange happens on the user-interface
                // thread, which owns the unit record during a send.
                QMetaObject::invokeMethod(
                    this,
                    [this, k, j, &handled] {
                        // An entry whose exchange failed counts as unanswered.
                        if (!RunGuarded(this, [&] { handled = m_sendEntry ? m_sendEntry(k, j) : EntryResult::EndsList; }))
                            handled = EntryResult::NoAnswer;
                    },
                    Qt::BlockingQueuedConnection);
                if (handled == EntryResult::EndsList)
                    break;
                if (handled == EntryResult::Stops) {
                    result = JobResult::CommError;
                    break;
                }
                if (handled == EntryResult::NoAnswer)
                    bNoAnswer = true;
                SendGuarded(this, [this] { OnTransferStep(0); });
                if (TransferStopEvent().TryWait()) {
                    result = JobResult::Stopped;
                    break;
                }
            }
        }
    } catch (...) {
        bNoAnswer = true;
    }
    // Failed entries do not end a send; an entry that never reached the unit
    // makes the send a failed one, so that nothing waiting is dropped.
    if (result == JobResult::Done && bNoAnswer)
        result = JobResult::CommError;
    PostFinished(result);
}

void CDlgReadWriteParams::PostFinished(JobResult result)
{
    // 0x4C8 (posted)
    const int nResult = static_cast<int>(result);
    QMetaObject::invokeMethod(
        this, [this, nResult] { OnTransferFinished(nResult); }, Qt::QueuedConnection);
}

void CDlgReadWriteParams::OnTransferRange(int nTotal)
{
    const int maximum = IsSend() ? m_nJobCount : std::max(nTotal, 0);
    m_progress->setRange(0, maximum);
    m_progress->setValue(0);
}

void CDlgReadWriteParams::OnTransferStep(int nPosition)
{
    const int position = IsSend() ? m_progress->value() + 1 : nPosition;
    // The receive reports the row of actual values one below the globals'
    // position, which is below the range when there are no globals.
    m_progress->setValue(std::clamp(position, m_progress->minimum(), m_progress->maximum()));
}

void CDlgReadWriteParams::OnTransferFinished(int nResult)
{
    const auto result = static_cast<JobResult>(nResult);
    if (m_worker.joinable())
        m_worker.join();
    m_bWorkerRunning = false;
    m_jobResult = result;
    TheUnit().ClosePort();

    RunGuarded(this, [this, nResult, result] {
        // WM_USER+5 with -1: the send has ended, with this result.
        if (IsSend() && m_sendEntry)
            m_sendEntry(-1, nResult);
        if (result == JobResult::CommError && !IsWaitForUnit()) {
            const CTextMemory& texts = TheTextMemory();
            std::string text = texts.GetText(kTextCommError);
            // Answers with more bytes behind them every time: say why.
            if (TheUnit().GetLastFailure() == TransactFailure::SecondAnswer)
                text += "\n" + platform::SafeFormat(texts.GetTextOr(kTextSecondAnswers, "More than one unit may answer at address %d."),
                                                    {static_cast<long long>(TheUnit().GetAddress())});
            // Answers from another address: name the setting that allows them.
            if (TheUnit().GetLastFailure() == TransactFailure::OtherAddress)
                text += "\n" + platform::SafeFormat(texts.GetTextOr(text::kOtherAddressAnswers, text::kOtherAddressAnswersEnglish),
                                                    {static_cast<long long>(TheUnit().GetAddress())});
            ShowMessageBox(this, text, texts.GetText(0), MsgIcon::Error);
        }
    });
    if (result == JobResult::CommError && !IsSend() && !IsWaitForUnit()) {
        // A receive that broke off leaves the record with rows of two reads:
        // no zones are shown until a good one. A send changes no counts.
        TheUnit().ResetZoneCounts();
    }
    // A cancelled wait goes on as one that reached its limit.
    if (isVisible())
        done(result == JobResult::Done || IsWaitForUnit() ? QDialog::Accepted : QDialog::Rejected);
}

void CDlgReadWriteParams::reject()
{
    if (m_bWorkerRunning) {
        TransferStopEvent().Set();
        return;
    }
    done(QDialog::Rejected);
}
