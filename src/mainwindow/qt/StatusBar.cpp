// The main window's status bar: which unit, which port, and how the last job
// ended, so that an engineer at the machine sees where the program stands.
#include <QLabel>
#include <QStatusBar>
#include <ctime>

#include "config/PortMap.h"
#include "config/StatusTexts.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/LocalTime.h"
#include "platform/SafeFormat.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

namespace {

// Singular forms where the language needs them, and the monitor's values.
constexpr int kTextOneSent = 185;
constexpr int kTextOneSentFault = 186;
constexpr int kTextLive = 187;

std::string Line(int n, const char* fallback, const std::vector<platform::FormatArg>& args = {})
{
    return platform::SafeFormat(TheTextMemory().GetTextOr(n, fallback), args);
}

std::string UnitField()
{
    CUnit& unit = TheUnit();
    if (unit.IsOffline() || unit.GetAddress() < 1)
        return Line(text::kStatusNoUnit, "Working without a unit");
    const long long address = unit.GetAddress();
    // Selected, but nothing received yet (or the receive failed).
    if (unit.QueryZoneCount() <= 0)
        return Line(text::kStatusUnitAddress, "Unit %d", {address});
    return Line(text::kStatusUnit, "Unit %d: %s, AZ number %d, %d zones, firmware %d",
                {address, unit.QueryType(), static_cast<long long>(unit.QueryAZNumber()),
                 static_cast<long long>(unit.QueryZoneCount()), static_cast<long long>(unit.QueryVersion())});
}

std::string PortField()
{
    CUnit& unit = TheUnit();
    if (unit.IsOffline())
        return {};
    const long long port = unit.GetPort();
    const std::string device = DevicePathForPort(unit.GetPort());
    if (device.empty())
        return Line(text::kStatusPortNoDevice, "COM%d: no device", {port});
    return Line(text::kStatusPort, "COM%d: %s at %d baud", {port, device, static_cast<long long>(unit.GetBaudrate())});
}

// The local time in the language's time pattern.
std::string TimeOfDay(std::time_t when)
{
    std::string pattern = TheTextMemory().GetTimePattern();
    if (pattern.empty())
        pattern = "%H:%M:%S";
    long offset = 0;
    const std::tm local = platform::LocalTimeOf(when, offset);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, pattern.c_str(), &local));
}

std::string JobField(const CDarozozazWindowsDlg::JobStatus& job)
{
    using Kind = CDarozozazWindowsDlg::JobStatus::Kind;
    switch (job.kind) {
    case Kind::None: return {};
    case Kind::Received: return Line(text::kStatusReceived, "Received at %s", {TimeOfDay(job.tReceived)});
    case Kind::Sent:
        if (job.nSent == 1)
            return job.nFaults == 0 ? Line(kTextOneSent, "1 value sent")
                                    : Line(kTextOneSentFault, "1 value sent, refused or differing");
        if (job.nFaults == 0)
            return Line(text::kStatusSent, "%d values sent", {static_cast<long long>(job.nSent)});
        return Line(text::kStatusSentFaults, "%d values sent, %d of them refused or differing",
                    {static_cast<long long>(job.nSent), static_cast<long long>(job.nFaults)});
    case Kind::CommError: return Line(text::kStatusCommError, "Communication error");
    case Kind::PortFailed: return Line(text::kStatusPortFailed, "The serial port could not be opened");
    case Kind::Stopped: return Line(text::kStatusStopped, "Stopped by the user");
    case Kind::Live: return Line(kTextLive, "Live values at %s", {TimeOfDay(job.tReceived)});
    }
    return {};
}

}  // namespace

void CDarozozazWindowsDlg::UpdateStatusBar()
{
    const std::string fields[] = {UnitField(), PortField(), JobField(m_lastJob)};
    // An empty field keeps its line, so that the bar never changes height.
    for (std::size_t i = 0; i < m_statusField.size(); ++i)
        m_statusField[i]->setText(Q(fields[i]));
}

void CDarozozazWindowsDlg::NoteTransferEnd(std::optional<JobResult> result, bool bSend)
{
    JobStatus status;
    if (!result)
        status.kind = JobStatus::Kind::PortFailed;
    else if (*result == JobResult::Stopped)
        status.kind = JobStatus::Kind::Stopped;
    else if (*result == JobResult::CommError)
        status.kind = JobStatus::Kind::CommError;
    else if (bSend)
        status = {JobStatus::Kind::Sent, 0, m_nSendExchanged, m_nSendFaults};
    else
        status = {JobStatus::Kind::Received, std::time(nullptr), 0, 0};
    m_lastJob = status;
    UpdateStatusBar();
}

std::string CDarozozazWindowsDlg::GetStatusText(int nField) const
{
    if (nField < 0 || nField >= static_cast<int>(m_statusField.size()))
        return {};
    return S(m_statusField[static_cast<std::size_t>(nField)]->text());
}
