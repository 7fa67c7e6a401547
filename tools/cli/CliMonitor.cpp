// vorlent-cli monitor: the live values of some units, one line per unit and
// cycle, and a recording to CSV, until a count or a stop signal.
#include "CliMonitor.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>

#include "Cli.h"
#include "monitor/MonitorJob.h"
#include "mqtt/MqttBridge.h"
#include "mqtt/MqttUrl.h"
#include "platform/Console.h"
#include "platform/Csv.h"
#include "platform/FileInfo.h"
#include "platform/SecretFile.h"
#include "platform/StopSignals.h"
#include "unit/Unit.h"

namespace {

// A reader of standard output that went away (a pipe into head) is a
// write error, seen and ended on, not a death without a cleanup of the port.
struct IgnoreBrokenPipe
{
    IgnoreBrokenPipe() { platform::IgnoreBrokenPipe(true); }
    ~IgnoreBrokenPipe() { platform::IgnoreBrokenPipe(false); }
    IgnoreBrokenPipe(const IgnoreBrokenPipe&) = delete;
    IgnoreBrokenPipe& operator=(const IgnoreBrokenPipe&) = delete;
};

void RemoveFile(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// Seconds with up to three decimals ("0.5", "2", "0.250"), as milliseconds.
bool ParseSeconds(const std::string& text, long long& ms)
{
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || fraction.size() > 3 || (dot != std::string::npos && fraction.empty()))
        return false;
    long long seconds = 0, part = 0;
    if (!whole.empty() && !ParseWhole(whole, 0, 86400, seconds))
        return false;
    if (!fraction.empty()) {
        fraction.resize(3, '0');
        if (!ParseWhole(fraction, 0, 999, part))
            return false;
    }
    ms = seconds * 1000 + part;
    return ms <= 86400 * 1000LL;
}

std::string ValueText(const std::vector<int32_t>& row, std::size_t z)
{
    return z < row.size() && row[z] != kNoValue ? std::to_string(row[z]) : std::string("-");
}

// Prints each sample as a readable line, tells the link's and the
// recording's troubles, and remembers what the end of the run needs.
class Printer : public IMonitorObserver
{
public:
    Printer(std::ostream& out, std::ostream& err, bool bLines) : m_out(out), m_err(err), m_bLines(bLines) {}

    void UnitIdentified(int16_t address, int32_t zones, int16_t width) override
    {
        if (m_pBridge)
            m_pBridge->UnitIdentified(address, zones, width);
    }
    void BetweenCycles(CUnit& unit) override
    {
        if (m_pBridge)
            m_pBridge->BetweenCycles(unit);
    }
    void SampleTaken(const MonitorSample& sample) override
    {
        if (m_pBridge)
            m_pBridge->SampleTaken(sample);
        if (sample.nCycle == 1 && sample.Answered())
            m_bFirstCycleAnswered = true;
        if (!m_bLines)
            return;
        char address[8];
        std::snprintf(address, sizeof address, "%02d", sample.nAddress);
        std::string line = platform::IsoLocalTime(sample.tWall) + "  " + address + " ";
        if (!sample.Answered()) {
            line += " no answer";
        } else {
            const std::size_t zones = std::max(sample.actual.size(), sample.set.size());
            for (std::size_t z = 0; z < zones; ++z)
                line += " " + ValueText(sample.actual, z) + "/" + ValueText(sample.set, z);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_out << line << '\n' << std::flush;
        if (!m_out)
            m_bOutputLost = true;
    }
    void CycleDone(long long cycle, double, const std::vector<MonitorStats>&) override
    {
        if (cycle != 1)
            return;
        m_bFirstCycleDone = true;
        // Nobody to watch: ended before a second cycle of silence goes out.
        // Published, the silence is news for the plant (every unit
        // offline), and a unit switched on later is seen when it comes.
        if (!m_bFirstCycleAnswered && m_pJob && !m_pBridge)
            m_pJob->RequestStop();
    }
    void LinkChanged(MonitorLink state, const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (state == MonitorLink::Gone)
            m_err << "vorlent-cli: " << text << "; opening it again every 2 s\n" << std::flush;
        else
            m_err << "vorlent-cli: " << text << " is back\n" << std::flush;
    }
    void RecordingStopped(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_err << "vorlent-cli: " << text << '\n' << std::flush;
        m_bRecordingFailed = true;
    }

    void Tell(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_err << "vorlent-cli: " << text << '\n' << std::flush;
    }

    void SetJob(CMonitorJob* job) { m_pJob = job; }
    void SetBridge(CMqttBridge* bridge) { m_pBridge = bridge; }
    bool FirstCycleDone() const { return m_bFirstCycleDone.load(); }
    bool FirstCycleAnswered() const { return m_bFirstCycleAnswered.load(); }
    bool OutputLost() const { return m_bOutputLost.load(); }
    bool RecordingFailed() const { return m_bRecordingFailed.load(); }

private:
    std::mutex m_mutex;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bLines;
    CMonitorJob* m_pJob = nullptr;
    CMqttBridge* m_pBridge = nullptr;
    std::atomic<bool> m_bFirstCycleDone{false};
    std::atomic<bool> m_bFirstCycleAnswered{false};
    std::atomic<bool> m_bOutputLost{false};
    std::atomic<bool> m_bRecordingFailed{false};
};

// The part of a device path that names the port in topics and the client
// id: "/dev/ttyUSB0" gives "ttyUSB0", "/dev/pts/3" gives "pts_3".
std::string PortName(const std::string& device)
{
    const std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    return TopicLevel(name);
}

// The bridge's settings from the options, judged before the line is
// touched; false with the reason.
bool PrepareMqtt(const MonitorArgs& args, const std::string& device, CUnit& lineOf, MqttBridgeConfig& config,
                 std::string& error)
{
    MqttUrl url;
    if (!ParseMqttUrl(args.strMqttUrl, url, error))
        return false;
    const std::string host = platform::HostName();
    config.strBase = url.strBase.empty() ? "vorlent/" + TopicLevel(host) + "/" + PortName(device) : url.strBase;
    error = CheckTopicBase(config.strBase);
    if (!error.empty())
        return false;
    CMqttClient::Settings& client = config.client;
    client.strHost = url.strHost;
    client.nPort = url.nPort;
    client.bTls = url.bTls;
    client.strUser = url.strUser;
    config.strBrokerName = (url.strHost.find(':') != std::string::npos ? "[" + url.strHost + "]" : url.strHost) +
                           ":" + std::to_string(url.nPort);

    // The password from a file or the environment, never from the command line.
    if (!args.strMqttPasswordFile.empty()) {
        std::string text;
        unsigned mode = 0;
        if (!platform::ReadSecretFile(args.strMqttPasswordFile, text, mode, error)) {
            error = "cannot read the password file " + args.strMqttPasswordFile + ": " + error;
            return false;
        }
        error = CheckPasswordFileMode(args.strMqttPasswordFile, mode);
        if (!error.empty())
            return false;
        client.strPassword = text.substr(0, text.find('\n'));
        if (!client.strPassword.empty() && client.strPassword.back() == '\r')
            client.strPassword.pop_back();
    } else if (const char* password = std::getenv("VORLENT_MQTT_PASSWORD")) {
        client.strPassword = password;
    }
    if (!client.strPassword.empty() && client.strUser.empty()) {
        error = "a password needs a user name in the URL (mqtt://USER@HOST/...)";
        return false;
    }
    if (!url.bTls && (!args.strMqttCaFile.empty() || !args.strMqttCert.empty() || !args.strMqttKey.empty())) {
        error = "--mqtt-cafile, --mqtt-cert and --mqtt-key need an mqtts:// URL";
        return false;
    }
    if (args.strMqttCert.empty() != args.strMqttKey.empty()) {
        error = "--mqtt-cert and --mqtt-key go together";
        return false;
    }
    for (const std::string* file : {&args.strMqttCaFile, &args.strMqttCert, &args.strMqttKey}) {
        if (!file->empty() && !std::ifstream(*file)) {
            error = "cannot read " + *file;
            return false;
        }
    }
    client.strCaFile = args.strMqttCaFile;
    client.strCertFile = args.strMqttCert;
    client.strKeyFile = args.strMqttKey;
    client.strClientId = args.strMqttClientId.empty() ? "vorlent-" + TopicLevel(host) + "-" + PortName(device)
                                                      : args.strMqttClientId;
    long long keepAlive = 30;
    if (!args.strMqttKeepAlive.empty() && !ParseWhole(args.strMqttKeepAlive, 5, 65535, keepAlive)) {
        error = "--mqtt-keepalive takes seconds from 5 to 65535, not '" + args.strMqttKeepAlive + "'";
        return false;
    }
    client.nKeepAlive = static_cast<int>(keepAlive);

    config.bPerZone = args.bMqttPerZone;
    if (args.bMqttDiscovery) {
        config.strDiscoveryPrefix = args.strMqttDiscoveryPrefix.empty() ? "homeassistant" : args.strMqttDiscoveryPrefix;
        error = CheckTopicBase(config.strDiscoveryPrefix);
        if (!error.empty()) {
            error = "--mqtt-discovery: " + error;
            return false;
        }
    }
    for (const std::string& entry : args.mqttAllowWrites) {
        if (!config.guard.Allow(entry, error))
            return false;
    }
    for (int address : config.guard.Addresses()) {
        if (std::find(args.addresses.begin(), args.addresses.end(), address) == args.addresses.end()) {
            error = "--mqtt-allow-writes names unit " + std::to_string(address) + ", which is not watched";
            return false;
        }
    }
    config.info.version = VORLENT_VERSION;
    config.info.device = device;
    config.info.baudrate = lineOf.GetBaudrate();
    config.info.addresses = args.addresses;
    config.info.intervalMs = args.nIntervalMs;
    config.info.bWrites = config.guard.Any();
    config.strRecordUser = "mqtt:" + platform::LoginName();
    config.strRecordHost = host;
    return true;
}

}  // namespace

bool ParseMonitorArgs(const std::vector<std::string>& operands, MonitorArgs& args, std::string& error)
{
    args = MonitorArgs{};
    bool bCsv = false;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& arg = operands[i];
        auto valueOf = [&](std::string& value) {
            if (i + 1 >= operands.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = operands[++i];
            return true;
        };
        std::string value;
        long long number = 0;
        if (arg == "--interval") {
            if (!valueOf(value))
                return false;
            if (!ParseSeconds(value, number)) {
                error = "--interval takes seconds from 0 to 86400 (up to three decimals), not '" + value + "'";
                return false;
            }
            args.nIntervalMs = static_cast<int>(number);
        } else if (arg == "--count") {
            if (!valueOf(value))
                return false;
            if (!ParseWhole(value, 1, 999999999, number)) {
                error = "--count takes a number of cycles from 1 to 999999999, not '" + value + "'";
                return false;
            }
            args.nCount = number;
        } else if (arg == "--csv") {
            if (!valueOf(args.strCsv))
                return false;
            if (args.strCsv.empty()) {
                error = "--csv needs a file name, or '-' for standard output";
                return false;
            }
            bCsv = true;
        } else if (arg == "--append") {
            args.bAppend = true;
        } else if (arg.rfind("--mqtt", 0) == 0) {
            args.bMqttOptions = args.bMqttOptions || arg != "--mqtt";
            std::string* target = arg == "--mqtt"                    ? &args.strMqttUrl
                                  : arg == "--mqtt-password-file"    ? &args.strMqttPasswordFile
                                  : arg == "--mqtt-cafile"           ? &args.strMqttCaFile
                                  : arg == "--mqtt-cert"             ? &args.strMqttCert
                                  : arg == "--mqtt-key"              ? &args.strMqttKey
                                  : arg == "--mqtt-client-id"        ? &args.strMqttClientId
                                  : arg == "--mqtt-keepalive"        ? &args.strMqttKeepAlive
                                                                     : nullptr;
            if (target || arg == "--mqtt-allow-writes") {
                if (i + 1 >= operands.size() || operands[i + 1].empty()) {
                    args.strMqttError = arg + " needs a value";
                    ++i;
                    continue;
                }
                value = operands[++i];
                if (target)
                    *target = value;
                else
                    args.mqttAllowWrites.push_back(value);
            } else if (arg == "--mqtt-per-zone") {
                args.bMqttPerZone = true;
            } else if (arg == "--mqtt-discovery" || arg.rfind("--mqtt-discovery=", 0) == 0) {
                args.bMqttDiscovery = true;
                args.strMqttDiscoveryPrefix = arg.size() > 16 ? arg.substr(17) : std::string();
            } else {
                args.strMqttError = "unknown option " + arg + " for monitor";
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg + " for monitor";
            return false;
        } else {
            if (!ParseWhole(arg, 1, 30, number)) {
                error = "ADDRESS must be a bus address from 1 to 30, not '" + arg + "'";
                return false;
            }
            if (std::find(args.addresses.begin(), args.addresses.end(), number) != args.addresses.end()) {
                error = "address " + arg + " is given twice";
                return false;
            }
            args.addresses.push_back(static_cast<int>(number));
        }
    }
    if (args.addresses.empty()) {
        error = "monitor takes at least one ADDRESS";
        return false;
    }
    if (args.bAppend && (!bCsv || args.strCsv == "-")) {
        error = "--append needs --csv FILE";
        return false;
    }
    if (args.bMqttOptions && args.strMqttUrl.empty() && args.strMqttError.empty())
        args.strMqttError = "the --mqtt-... options need --mqtt URL";
    if ((args.bMqttOptions || !args.strMqttUrl.empty()) && !CMqttClient::IsAvailable())
        args.strMqttError = "--mqtt is not available in this build";
    return true;
}

int RunMonitorCommand(CUnit& lineOf, const std::string& device, const MonitorArgs& args, std::ostream& out,
                      std::ostream& err)
{
    MqttBridgeConfig mqttConfig;
    if (!args.strMqttUrl.empty() || !args.strMqttError.empty()) {
        std::string error = args.strMqttError;
        if (!error.empty() || !PrepareMqtt(args, device, lineOf, mqttConfig, error)) {
            err << "vorlent-cli: " << error << '\n';
            return kCliMqttUsage;
        }
    }
    const bool bCsvToStdout = args.strCsv == "-";
    Printer printer(out, err, !bCsvToStdout);
    CMonitorJob job(printer);
    printer.SetJob(&job);
    // Gone before the job: its network thread ends before the job it wakes.
    std::unique_ptr<CMqttBridge> bridge;
    if (!args.strMqttUrl.empty()) {
        bridge = std::make_unique<CMqttBridge>(
            std::move(mqttConfig), [&printer](const std::string& text) { printer.Tell(text); },
            [&job] { job.WakeBetweenCycles(); });
        printer.SetBridge(bridge.get());
    }

    // The file first: a name that is taken is refused before the line is
    // touched.
    bool bCreatedFile = false;
    if (bCsvToStdout) {
        out.flush();
        job.StartRecordingTo(platform::kStandardOutputFd, "standard output");
    } else if (!args.strCsv.empty()) {
        std::string error;
        if (!job.StartRecording(args.strCsv, args.bAppend, error)) {
            std::error_code ec;
            const bool bExists = !args.bAppend && std::filesystem::exists(args.strCsv, ec) &&
                                 !std::filesystem::is_directory(args.strCsv, ec);
            err << "vorlent-cli: cannot record to " << error
                << (bExists ? " (give --append to add to it, or another name)\n" : "\n");
            return kCliWriteFailed;
        }
        bCreatedFile = !args.bAppend;
        if (!error.empty())
            err << "vorlent-cli: " << error << '\n';
    }

    // Before the broker's socket too: a write to a broker gone away is an
    // error to handle, not the end of the monitor.
    IgnoreBrokenPipe brokenPipe;
    if (bridge) {
        auto dropNewFile = [&] {
            job.StopRecording();
            if (bCreatedFile)
                RemoveFile(args.strCsv);
        };
        std::string error;
        // No write from the plant without its line in the change record.
        const std::string recordPath = records::ChangeRecordPath();
        if (!args.mqttAllowWrites.empty() && !bridge->OpenChangeRecord(recordPath, error)) {
            err << "vorlent-cli: cannot append to the change record " << (recordPath.empty() ? "(none)" : recordPath)
                << ": " << error << "; writes from the broker need it\n";
            dropNewFile();
            return kCliWriteFailed;
        }
        if (!bridge->Start(error)) {
            err << "vorlent-cli: " << error << '\n';
            dropNewFile();
            return kCliMqttUsage;
        }
        // A counted run exists to deliver its cycles: a broker that refuses
        // them is told before the line is polled.
        std::string refusal;
        if (args.nCount > 0 && !bridge->WaitForFirstAnswer(std::chrono::seconds(5), refusal)) {
            err << "vorlent-cli: broker " << bridge->BrokerName() << ": " << refusal
                << "; nothing was polled\n";
            bridge->Finish();
            dropNewFile();
            return kCliWriteFailed;
        }
    }

    MonitorConfig config;
    config.line = MonitorLineOf(lineOf);
    for (int address : args.addresses)
        config.units.push_back(MonitorUnit{static_cast<int16_t>(address), 0, 0});
    config.interval = std::chrono::milliseconds(args.nIntervalMs);
    config.nMaxCycles = args.nCount;

    if (!job.Start(config)) {
        if (bridge)
            bridge->Finish();
        job.StopRecording();
        if (bCreatedFile)
            RemoveFile(args.strCsv);
        if (job.IsPortInUse()) {
            err << "vorlent-cli: the serial port " << device << " is in use by ";
            if (job.GetHolderPid() > 0)
                err << "process " << job.GetHolderPid() << '\n';
            else
                err << "another program\n";
        } else {
            err << "vorlent-cli: cannot open the serial port " << device;
            if (!job.GetOpenError().empty())
                err << ": " << job.GetOpenError();
            err << '\n';
        }
        return kCliPort;
    }

    while (!job.Wait(std::chrono::milliseconds(200))) {
        // SIGINT, SIGTERM and SIGHUP (taken by the command line's stop
        // signals): the job finishes the unit it polls, its line included,
        // then closes the file and the port and lets go of the lock.
        // Nobody reads what it would print: standard output is gone.
        const bool bNothingLeft = printer.OutputLost() || (bCsvToStdout && printer.RecordingFailed());
        if (platform::StopSignalReceived() || bNothingLeft)
            job.RequestStop();
    }
    // The broker hears "offline" from us, not from the Last Will.
    const bool bRecorded = !bridge || bridge->Finish();
    const bool bNoUnit = printer.FirstCycleDone() && !printer.FirstCycleAnswered() && !bridge;

    if (bNoUnit) {
        // A recording of silence only is no recording: a new file goes again.
        if (bCreatedFile)
            RemoveFile(args.strCsv);
        err << "vorlent-cli: no unit answered on " << device << " (address";
        for (std::size_t i = 0; i < args.addresses.size(); ++i)
            err << (i == 0 ? (args.addresses.size() > 1 ? "es " : " ") : ", ") << args.addresses[i];
        err << ")\n";
        return kCliComm;
    }
    if (printer.RecordingFailed() || !bRecorded)
        return kCliWriteFailed;
    if (platform::StderrIsTerminal()) {
        for (const MonitorStats& s : job.Statistics()) {
            char line[200];
            std::snprintf(line, sizeof line,
                          "address %02d: %lld polls, %lld answered, %lld retried, %lld without answer, "
                          "%lld late answers discarded, cycle %.1f ms (mean %.1f ms)\n",
                          s.nAddress, s.nPolls, s.nAnswered, s.nRetried, s.nNoAnswer, s.nLateDiscarded,
                          s.dLastCycleMs, s.dMeanCycleMs);
            err << line;
        }
    }
    return kCliOk;
}
