#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <thread>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QShowEvent;

// The bus scan (dialog 131): polls addresses 1..30 on a worker thread through
// the unit record, shows every unit that answers with its AZ number and type,
// and lets the user pick one. The first unit found is preselected.
//
// The link is open from the dialog's start until the worker's final message
// (or until the dialog is destroyed, whichever comes first). While the worker
// runs it alone uses the unit record; its progress reaches the dialog through
// blocking calls (the record's address is the one being polled while a
// handler runs).
//
// Cancel (button, Escape, window close) stops a running scan after the
// address being polled, and the dialog then closes by itself; once the scan
// has ended it closes the dialog. Receive (the default button, Enter) closes
// it with the picked unit once the scan has ended and a unit was found.
class CDlgScanDevices : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kAddresses = 30;

    // WM_USER+4: address 0 removes every unit item of the Devices menu, an
    // address 1..30 adds the item of the unit found there.
    using DevicesItem = std::function<void(int nAddress, const std::string& type)>;
    // WM_USER+3, sent while the dialog is destroyed: the user's pick, 0 = none.
    using UnitPicked = std::function<void(int nAddress)>;

    CDlgScanDevices(DevicesItem sendDevicesItem, UnitPicked sendUnitPicked, QWidget* parent = nullptr);
    // Stops a worker that still runs (serving its calls until it has ended),
    // closes a link left open, then reports the pick.
    ~CDlgScanDevices() override;

    // 0x465: the polling marker "?" at the record's current address (true)
    // or an empty AZ field there (false); the progress bar shows the address
    // being polled.
    void OnScanPolling(bool bShow);
    // 0x466: a unit answered at the record's current address.
    void OnScanFound(int nAZNumber, std::string type);
    // 0x464 (posted): the worker has ended; nStopped 1 = stopped by the user.
    void OnScanFinished(int nStopped);

    int GetSelectedAddress() const { return m_nSelectedAddress; }
    // True from the start of the worker until its final message is handled.
    bool IsScanning() const { return m_bWorkerRunning; }

public slots:
    // Cancel, Escape and the close box all come here.
    void reject() override;
    // The hidden default button: nothing.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Texts, link, worker. False when the dialog is closing again.
    bool OnInitDialog();
    void StartWorker();
    void WorkerMain();
    void OnRadioClicked(int nAddress);

    QPushButton* m_btnOK;      // 1, hidden
    QPushButton* m_btnCancel;  // 2
    QPushButton* m_btnReceive; // "receive"
    // Receive only with a unit picked and the bus quiet.
    void UpdateReceiveButton();
    std::array<QRadioButton*, kAddresses> m_radio{};  // 1006 + a
    std::array<QLabel*, kAddresses> m_staticAZ{};     // 1036 + a
    std::array<QLabel*, kAddresses> m_staticType{};   // 1066 + a
    QGroupBox* m_groupUnits;   // 1127
    QLabel* m_staticType1;     // 1128
    QLabel* m_staticType2;     // 1129
    QProgressBar* m_progress;  // 1130: the address polled, of 30
    int m_nSelectedAddress = 0;
    bool m_bPreselected = false;
    std::thread m_worker;

    DevicesItem m_sendDevicesItem;
    UnitPicked m_sendUnitPicked;
    bool m_bInitialised = false;
    bool m_bWorkerRunning = false;
    // A Cancel taken while the worker ran: its final message closes the
    // dialog even when the last address had already been polled.
    bool m_bCancelRequested = false;
};
