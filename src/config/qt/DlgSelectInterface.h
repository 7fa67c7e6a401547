#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QShowEvent;

// The interface choice at start-up (dialog 134): a COM port and baud rate for
// the bus, or working without a unit. Lists only the ports 1..15 that can be
// opened exclusively when it opens, and preselects what CONFIG.INI
// remembers. It writes nothing itself; OK hands the choice on through the
// callback, Cancel hands on nothing. Texts are fetched when it opens.
class CDlgSelectInterface : public QDialog
{
    Q_OBJECT
public:
    // Called once on OK, before the run ends, with the baud rate and the port
    // number. Port 0 means working without a unit (then the baud rate is 0
    // as well); a port typed as 0 or as no number comes out as 0 too.
    using InterfaceChosen = std::function<void(int32_t nBaudrate, int32_t nPort)>;

    explicit CDlgSelectInterface(InterfaceChosen sendInterfaceChosen, QWidget* parent = nullptr);

    // The texts of the port and baud rate fields: filled by the initialisation
    // and by OK.
    std::string m_strPort;
    std::string m_strBaudrate;

protected:
    void showEvent(QShowEvent* event) override;
    // OK: hands the choice on and closes, unless the port is to be used with
    // a baud rate that is not a positive number; then the baud rate field
    // gets the focus with its text selected, and the dialog stays open.
    void accept() override;

private:
    bool OnInitDialog();
    void DoDataExchange(bool bSaveAndValidate);
    // The first entry that begins with text (ignoring case) becomes current;
    // without one, text goes into the edit field as it is.
    static void SelectOrPlace(QComboBox& combo, const std::string& text);
    // The device label follows the port field.
    void OnPortTextChanged(const QString& text);

    InterfaceChosen m_sendInterfaceChosen;
    QGroupBox* m_groupInterface;  // 1124
    QRadioButton* m_radioComPort;  // 1103
    QRadioButton* m_radioOffline;  // 1105
    QComboBox* m_comboPort;        // 1102
    QComboBox* m_comboBaudrate;    // 1104
    QLabel* m_staticAt;            // 1125
    QLabel* m_staticBaud;          // 1126
    QLabel* m_staticDevice;        // 1131, the device path of the port number
    QPushButton* m_btnOK;          // 1
    QPushButton* m_btnCancel;      // 2
    bool m_bInitialised = false;
};
