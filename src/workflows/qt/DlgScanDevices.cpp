#include "workflows/qt/DlgScanDevices.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "config/TextMemory.h"
#include "platform/AutoResetEvent.h"
#include "platform/qt/Guard.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

constexpr int kFirstRadioId = 1006;
constexpr int kFirstAZId = 1036;
constexpr int kFirstTypeId = 1066;
constexpr int kLeftColumnAddresses = 15;

constexpr int kTextTitle = 67;
constexpr int kTextGroup = 68;
constexpr int kTextTypeHeading = 69;
constexpr int kTextOK = 65;
constexpr int kTextCancel = 70;
constexpr int kTextPortFailed = 32;
constexpr int kTextReceive = 182;

QString ControlId(int id) { return QString::number(id); }

// The worker's side of the dialog: every report is a sent message, handled
// on the user-interface thread while the worker waits.
class ScanReporter : public IScanObserver
{
public:
    explicit ScanReporter(CDlgScanDevices& dialog) : m_dialog(dialog) {}

    void Polling(bool bPolling) override
    {
        // 0x465 (sent)
        SendGuarded(&m_dialog, [this, bPolling] { m_dialog.OnScanPolling(bPolling); });
    }

    void Found(int16_t, int16_t azNumber, const std::string& type) override
    {
        // 0x466 (sent)
        SendGuarded(&m_dialog, [this, azNumber, type] { m_dialog.OnScanFound(azNumber, type); });
    }

    bool StopRequested() override { return ScanStopEvent().TryWait(); }

private:
    CDlgScanDevices& m_dialog;
};

}  // namespace

CDlgScanDevices::CDlgScanDevices(DevicesItem sendDevicesItem, UnitPicked sendUnitPicked, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_sendDevicesItem(std::move(sendDevicesItem)),
      m_sendUnitPicked(std::move(sendUnitPicked))
{
    setObjectName("131");

    m_groupUnits = new QGroupBox(this);
    m_groupUnits->setObjectName("1127");
    m_staticType1 = new QLabel(m_groupUnits);
    m_staticType1->setObjectName("1128");
    m_staticType2 = new QLabel(m_groupUnits);
    m_staticType2->setObjectName("1129");

    auto* grid = new QGridLayout(m_groupUnits);
    // Each half: radio button, AZ number, type; a gap between the halves.
    for (int half = 0; half < 2; ++half) {
        const int column = half * 4;
        auto* azHeading = new QLabel("AZ#", m_groupUnits);
        grid->addWidget(azHeading, 0, column + 1);
        grid->addWidget(half == 0 ? m_staticType1 : m_staticType2, 0, column + 2);
    }
    grid->setColumnMinimumWidth(3, 24);
    grid->setColumnMinimumWidth(1, 48);
    grid->setColumnMinimumWidth(5, 48);
    grid->setColumnMinimumWidth(2, 96);
    grid->setColumnMinimumWidth(6, 96);

    for (int a = 1; a <= kAddresses; ++a) {
        const std::size_t i = static_cast<std::size_t>(a - 1);
        // All radio buttons share the group box, which makes them one group.
        auto* radio = new QRadioButton(QString::asprintf("G%02d", a), m_groupUnits);
        radio->setObjectName(ControlId(kFirstRadioId + a));
        radio->setEnabled(false);
        auto* az = new QLabel(m_groupUnits);
        az->setObjectName(ControlId(kFirstAZId + a));
        az->setTextFormat(Qt::PlainText);
        auto* type = new QLabel(m_groupUnits);
        type->setObjectName(ControlId(kFirstTypeId + a));
        type->setTextFormat(Qt::PlainText);
        m_radio[i] = radio;
        m_staticAZ[i] = az;
        m_staticType[i] = type;

        const bool bLeft = a <= kLeftColumnAddresses;
        const int row = bLeft ? a : a - kLeftColumnAddresses;
        const int column = bLeft ? 0 : 4;
        grid->addWidget(radio, row, column);
        grid->addWidget(az, row, column + 1);
        grid->addWidget(type, row, column + 2);
        connect(radio, &QRadioButton::clicked, this, [this, a] { OnRadioClicked(a); });
    }

    // Where the scan is: the address polled, of 30.
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("1130");
    m_progress->setRange(0, kAddresses);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    m_btnOK = new QPushButton(this);
    m_btnOK->setObjectName("1");
    m_btnOK->hide();
    m_btnReceive = new QPushButton(this);
    m_btnReceive->setObjectName("receive");
    m_btnReceive->setDefault(true);
    m_btnReceive->setEnabled(false);
    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName("2");
    // Enter must not press the only visible button.
    m_btnCancel->setAutoDefault(false);
    connect(m_btnOK, &QPushButton::clicked, this, &CDlgScanDevices::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CDlgScanDevices::reject);
    connect(m_btnReceive, &QPushButton::clicked, this, [this] {
        if (!m_bWorkerRunning && m_nSelectedAddress > 0)
            done(QDialog::Accepted);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnReceive);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_groupUnits);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CDlgScanDevices::~CDlgScanDevices()
{
    // A run ended by other means than the worker's final message (the
    // application quitting, say) leaves the worker on the bus.
    if (m_bWorkerRunning) {
        ScanStopEvent().Set();
        ServeCallsWhile(m_bWorkerRunning);
    }
    if (m_worker.joinable())
        m_worker.join();
    if (TheUnit().IsPortOpen())
        TheUnit().ClosePort();

    // WM_USER+3
    if (m_sendUnitPicked) {
        try {
            m_sendUnitPicked(m_nSelectedAddress);
        } catch (...) {
            // The main window reports its own failures; nothing may leave a
            // destructor.
        }
    }
}

void CDlgScanDevices::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    bool bRunning = false;
    RunGuarded(this, [this, &bRunning] { bRunning = OnInitDialog(); });
    if (!bRunning && !m_bWorkerRunning)
        RejectLater(*this);
}

bool CDlgScanDevices::OnInitDialog()
{
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(texts.GetText(kTextTitle)));
    m_groupUnits->setTitle(Q(texts.GetText(kTextGroup)));
    m_staticType1->setText(Q(texts.GetText(kTextTypeHeading)));
    m_staticType2->setText(Q(texts.GetText(kTextTypeHeading)));
    m_btnOK->setText(Q(texts.GetText(kTextOK)));
    m_btnCancel->setText(Q(texts.GetText(kTextCancel)));
    m_btnReceive->setText(Q(texts.GetTextOr(kTextReceive, "&Receive")));

    if (!TheUnit().OpenPort()) {
        ShowMessageBox(this, texts.GetText(kTextPortFailed), texts.GetText(0), MsgIcon::Error);
        return false;
    }
    // WM_USER+4 with 0: the old unit items go.
    if (m_sendDevicesItem)
        m_sendDevicesItem(0, std::string());
    StartWorker();
    return true;
}

void CDlgScanDevices::StartWorker()
{
    // A Cancel that came after the last scan's final test would otherwise
    // stop this one after its first address.
    ScanStopEvent().Reset();
    m_bCancelRequested = false;
    m_worker = std::thread([this] { WorkerMain(); });
    m_bWorkerRunning = true;
}

void CDlgScanDevices::WorkerMain()
{
    JobResult result = JobResult::Stopped;
    try {
        ScanReporter reporter(*this);
        result = RunScan(TheUnit(), reporter);
    } catch (...) {
        // Ends as a stopped scan: the dialog closes and keeps what it found.
    }
    const int stopped = result == JobResult::Stopped ? 1 : 0;
    // 0x464 (posted)
    QMetaObject::invokeMethod(
        this, [this, stopped] { OnScanFinished(stopped); }, Qt::QueuedConnection);
}

void CDlgScanDevices::OnScanPolling(bool bShow)
{
    const int a = TheUnit().GetAddress();
    if (a < 1 || a > kAddresses)
        return;
    m_staticAZ[static_cast<std::size_t>(a - 1)]->setText(bShow ? QStringLiteral("?") : QString());
    if (bShow)
        m_progress->setValue(a);
}

void CDlgScanDevices::OnScanFound(int nAZNumber, std::string type)
{
    const int a = TheUnit().GetAddress();
    if (a < 1 || a > kAddresses)
        return;
    const std::size_t i = static_cast<std::size_t>(a - 1);
    if (!m_bPreselected) {
        m_nSelectedAddress = a;
        m_radio[i]->setChecked(true);
        m_bPreselected = true;
    }
    m_radio[i]->setEnabled(true);
    m_staticAZ[i]->setText(QString::number(nAZNumber));
    m_staticType[i]->setText(Q(type));
    // WM_USER+4
    if (m_sendDevicesItem)
        m_sendDevicesItem(a, type);
}

void CDlgScanDevices::OnScanFinished(int nStopped)
{
    if (m_worker.joinable())
        m_worker.join();
    m_bWorkerRunning = false;
    TheUnit().ClosePort();
    UpdateReceiveButton();
    if ((nStopped == 1 || m_bCancelRequested) && isVisible())
        done(QDialog::Rejected);
}

void CDlgScanDevices::OnRadioClicked(int nAddress)
{
    m_nSelectedAddress = nAddress;
    UpdateReceiveButton();
}

void CDlgScanDevices::UpdateReceiveButton()
{
    const bool bReady = !m_bWorkerRunning && m_nSelectedAddress > 0;
    m_btnReceive->setEnabled(bReady);
    // Enter then receives at once, wherever the focus is in the dialog.
    if (bReady)
        m_btnReceive->setFocus(Qt::OtherFocusReason);
}

void CDlgScanDevices::reject()
{
    if (m_bWorkerRunning) {
        // The worker finishes the address it polls; its final message closes.
        m_bCancelRequested = true;
        ScanStopEvent().Set();
        return;
    }
    done(QDialog::Accepted);
}

void CDlgScanDevices::accept() {}
