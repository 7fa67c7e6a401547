#include "config/qt/DlgSelectInterface.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

#include "config/IniFile.h"
#include "config/PortMap.h"
#include "config/TextMemory.h"
#include "platform/SerialDevice.h"
#include "platform/SerialPorts.h"
#include "platform/qt/Guard.h"
#include "platform/qt/QtText.h"

namespace {

constexpr int kHighestPort = 15;
const char* const kNoDevice = "\u2014";

// The usual conversion, kept within what the window message carries: a
// number typed beyond it must not wrap around into another one.
int32_t ToInt32(const std::string& text)
{
    const long value = ToNumber(text);
    return static_cast<int32_t>(std::clamp<long>(value, std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
}

// The ports 1..nHighest, through the port-number mapping, that can be opened
// now for exclusive use and that no other program holds, in ascending
// order: probed together, with one pass over the processes.
std::vector<int> ProbeComPorts(int nHighest)
{
    std::vector<int> numbers;
    std::vector<std::string> paths;
    for (int n : platform::SystemPortNumbers(nHighest)) {
        std::string path = DevicePathForPort(n);
        if (!path.empty()) {
            numbers.push_back(n);
            paths.push_back(std::move(path));
        }
    }
    // One look at the other processes for all ports: each look reads the
    // descriptor table of every process.
    const std::vector<bool> free = platform::ProbeSerialDevices(paths);
    std::vector<int> present;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (free[i])
            present.push_back(numbers[i]);
    }
    return present;
}

}  // namespace

CDlgSelectInterface::CDlgSelectInterface(InterfaceChosen sendInterfaceChosen, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_sendInterfaceChosen(std::move(sendInterfaceChosen))
{
    setObjectName("134");

    m_groupInterface = new QGroupBox(this);
    m_groupInterface->setObjectName("1124");

    // Both radio buttons share the group box, which makes them one group.
    m_radioComPort = new QRadioButton(m_groupInterface);
    m_radioComPort->setObjectName("1103");
    m_radioOffline = new QRadioButton(m_groupInterface);
    m_radioOffline->setObjectName("1105");

    m_comboPort = new QComboBox(m_groupInterface);
    m_comboPort->setObjectName("1102");
    m_comboPort->setEditable(true);
    // Enter confirms the dialog; it must not add what was typed to the list,
    // which holds only ports that can be opened.
    m_comboPort->setInsertPolicy(QComboBox::NoInsert);
    m_comboPort->setMinimumContentsLength(4);

    m_comboBaudrate = new QComboBox(m_groupInterface);
    m_comboBaudrate->setObjectName("1104");
    m_comboBaudrate->setEditable(true);
    m_comboBaudrate->setInsertPolicy(QComboBox::NoInsert);
    m_comboBaudrate->addItems({"9600", "19200"});
    m_comboBaudrate->setMinimumContentsLength(6);

    m_staticAt = new QLabel(m_groupInterface);
    m_staticAt->setObjectName("1125");
    m_staticBaud = new QLabel(m_groupInterface);
    m_staticBaud->setObjectName("1126");
    // COM3 means nothing by itself on this system: name the device behind it.
    m_staticDevice = new QLabel(m_groupInterface);
    m_staticDevice->setObjectName("1131");
    m_staticDevice->setTextFormat(Qt::PlainText);
    m_staticDevice->setEnabled(false);

    m_btnOK = new QPushButton(this);
    m_btnOK->setObjectName("1");
    m_btnOK->setDefault(true);
    m_btnOK->setAutoDefault(true);
    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName("2");
    m_btnCancel->setAutoDefault(false);

    connect(m_btnOK, &QPushButton::clicked, this, &CDlgSelectInterface::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CDlgSelectInterface::reject);
    connect(m_comboPort, &QComboBox::currentTextChanged, this, &CDlgSelectInterface::OnPortTextChanged);

    auto* grid = new QGridLayout(m_groupInterface);
    grid->addWidget(m_radioComPort, 0, 0);
    grid->addWidget(m_comboPort, 0, 1);
    grid->addWidget(m_staticAt, 0, 2);
    grid->addWidget(m_comboBaudrate, 0, 3);
    grid->addWidget(m_staticBaud, 0, 4);
    grid->addWidget(m_staticDevice, 1, 1, 1, 4);
    grid->addWidget(m_radioOffline, 2, 0, 1, 5);
    grid->setColumnStretch(5, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnOK);
    buttons->addStretch(1);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_groupInterface);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    OnPortTextChanged(QString());
}

void CDlgSelectInterface::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    InitialiseOnFirstShow(*this, m_bInitialised, [this] { OnInitDialog(); });
}

bool CDlgSelectInterface::OnInitDialog()
{
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(texts.GetText(59)));
    m_groupInterface->setTitle(Q(texts.GetText(60)));
    m_radioComPort->setText(Q(texts.GetText(61)));
    m_staticAt->setText(Q(texts.GetText(62)));
    m_staticBaud->setText(Q(texts.GetText(63)));
    m_radioOffline->setText(Q(texts.GetText(64)));
    m_btnOK->setText(Q(texts.GetText(65)));
    m_btnCancel->setText(Q(texts.GetText(66)));

    // Unsorted on purpose: probing in order already gives ascending numbers.
    m_comboPort->clear();
    for (int n : ProbeComPorts(kHighestPort))
        m_comboPort->addItem(QString::number(n));

    CIniFile ini("CONFIG.INI", false);
    ini.ReadString("COM_PORT", "Port");
    m_strPort = ini.GetValue().empty() ? std::string("0") : ini.GetValue();
    ini.ReadString("COM_PORT", "Baudrate");
    m_strBaudrate = ini.GetValue();

    // A remembered port that cannot be opened now is still offered, as long
    // as any port can: the user may be about to plug it in.
    const bool bUsePort = m_strPort != "0" && m_comboPort->count() > 0;
    if (!bUsePort) {
        m_strPort = "1";
        m_strBaudrate = "9600";
    }
    m_radioComPort->setChecked(bUsePort);
    m_radioOffline->setChecked(!bUsePort);

    DoDataExchange(false);
    return true;
}

void CDlgSelectInterface::DoDataExchange(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_strPort = S(m_comboPort->currentText());
        m_strBaudrate = S(m_comboBaudrate->currentText());
        return;
    }
    SelectOrPlace(*m_comboPort, m_strPort);
    SelectOrPlace(*m_comboBaudrate, m_strBaudrate);
}

void CDlgSelectInterface::SelectOrPlace(QComboBox& combo, const std::string& text)
{
    const QString wanted = Q(text);
    for (int i = 0; i < combo.count(); ++i) {
        if (combo.itemText(i).startsWith(wanted, Qt::CaseInsensitive)) {
            combo.setCurrentIndex(i);
            return;
        }
    }
    combo.setCurrentIndex(-1);
    combo.setEditText(wanted);
}

void CDlgSelectInterface::OnPortTextChanged(const QString& text)
{
    const std::string path = DevicePathForPort(ToInt32(S(text)));
    m_staticDevice->setText(path.empty() ? QString::fromUtf8(kNoDevice) : Q(path));
}

void CDlgSelectInterface::accept()
{
    DoDataExchange(true);

    int32_t nPort = 0;
    int32_t nBaudrate = 0;
    if (m_radioComPort->isChecked()) {
        nPort = ToInt32(m_strPort);
        // A port of 0 means working without a unit, where no baud rate is
        // used; for a real port a rate of 0 or below cannot be set.
        if (nPort != 0) {
            const long baud = ToNumber(m_strBaudrate);
            if (baud <= 0 || baud > std::numeric_limits<int32_t>::max()) {
                m_comboBaudrate->setFocus(Qt::OtherFocusReason);
                m_comboBaudrate->lineEdit()->selectAll();
                return;
            }
            nBaudrate = static_cast<int32_t>(baud);
        }
    }

    if (m_sendInterfaceChosen)
        m_sendInterfaceChosen(nBaudrate, nPort);
    QDialog::accept();
}
