// vorlent-cli: scan, receive to a recipe and send a recipe, for scripts on a
// production line. Reads the program's settings and writes none of them.
#include "Cli.h"
#include "CliMonitor.h"
#include "CliRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "config/IniFile.h"
#include "config/LanguageFiles.h"
#include "config/PortMap.h"
#include "config/StatusTexts.h"
#include "config/TextMemory.h"
#include "platform/FileInfo.h"
#include "platform/Console.h"
#include "platform/ProgramDir.h"
#include "platform/SafeFormat.h"
#include "platform/StopSignals.h"
#include "recipe/Recipe.h"
#include "unit/BusTrace.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

#ifndef VORLENT_VERSION
#define VORLENT_VERSION "0.0.0"
#endif

const char* const kUsage =
    "usage: vorlent-cli [OPTIONS] COMMAND ARGS\n"
    "       vorlent-cli --help | --version\n"
    "  scan                      list the units on the bus: address, AZ number, type\n"
    "  receive ADDRESS RECIPE    receive the unit at ADDRESS (1..30) into the recipe file RECIPE\n"
    "                            ('-' writes it to standard output)\n"
    "  send ADDRESS RECIPE       send the values of RECIPE that differ from the unit's, with read-back,\n"
    "                            each value recorded in the change record\n"
    "  monitor ADDRESS... [--interval SECONDS] [--count N] [--csv FILE|-] [--append]\n"
    "                            watch the actual and set values of the units: one line per unit\n"
    "                            and cycle (every SECONDS, default 1, 0 as fast as the line allows),\n"
    "                            until N cycles or SIGINT/SIGTERM; --csv records them to FILE\n"
    "                            ('-': the CSV to standard output instead of the lines), which must\n"
    "                            not exist unless --append is given\n"
    "          [--mqtt URL [--mqtt-per-zone] [--mqtt-discovery[=PREFIX]] [--mqtt-allow-writes A:ZONES]...]\n"
    "                            also publish to an MQTT broker, URL mqtt[s]://[USER@]HOST[:PORT]/BASE\n"
    "                            (password: --mqtt-password-file FILE or VORLENT_MQTT_PASSWORD; also\n"
    "                            --mqtt-cafile, --mqtt-cert, --mqtt-key, --mqtt-client-id, --mqtt-keepalive)\n"
    "  log [--az N] [--address A] [--since DATE]\n"
    "                            print the change record's matching lines as CSV; damaged lines\n"
    "                            are skipped and counted\n"
    "  diff --unit ADDRESS RECIPE | diff RECIPE_A RECIPE_B\n"
    "                            list the values that differ, tab-separated: where, left, right\n"
    "  export RECIPE [--csv FILE|-] [--force]\n"
    "                            write the recipe's values as CSV (what,name,value); an existing\n"
    "                            FILE is replaced only with --force\n";

const char* const kOptions =
    "options:\n"
    "  --home DIR       the program directory (GLOBAL.INI, CONFIG.INI, *.lng)\n"
    "  --device PATH    the serial device, whatever the port number\n"
    "  --port N         the port COMN instead of the one in CONFIG.INI (1..15, or any in [PORTS])\n"
    "  --baud RATE      the baud rate instead of the one in CONFIG.INI\n"
    "  --timeout MS     the time-out per answer byte, 1..32767 ms, for this run\n"
    "  --trace FILE     append every telegram try to FILE\n"
    "  --no-record      send even when the change record cannot be written\n"
    "  --help           this text\n"
    "  --version        the version and the program directory in use\n"
    "exit status: 0 done, 1 usage, 2 port, 3 communication (monitor: no unit answered in the first\n"
    "  cycle), 4 not a recipe or another unit's, 5 read-backs differ, 6 no unit found,\n"
    "  7 recipe, CSV or change record not written (monitor: also a broker that refused the login\n"
    "  before the first of --count cycles), 128+n stopped by signal n (monitor: 0; a bad --mqtt URL\n"
    "  or option: 2);\n"
    "  diff: 0 equal, 1 different, 2 usage or port, 3 communication, 4 not a recipe or another unit's;\n"
    "  log: 0 done, 1 damaged lines skipped, 2 usage, 4 not a change record, 7 record unreadable\n";

struct Options
{
    std::string home;
    std::string device;
    int port = -1;
    long baud = -1;
    int timeout = -1;
    std::string trace;
    bool bHelp = false;
    bool bVersion = false;
    bool bNoRecord = false;
    std::string command;
    std::vector<std::string> operands;
};

}  // namespace

bool ParseWhole(const std::string& text, long long low, long long high, long long& value)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

namespace {

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error)
{
    std::size_t i = 0;
    auto valueOf = [&](const std::string& flag, std::string& value) {
        if (i + 1 >= args.size()) {
            error = flag + " needs a value";
            return false;
        }
        value = args[++i];
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        long long number = 0;
        if (arg == "--home") {
            if (!valueOf(arg, options.home))
                return false;
        } else if (arg == "--device") {
            if (!valueOf(arg, options.device))
                return false;
        } else if (arg == "--port") {
            if (!valueOf(arg, value))
                return false;
            // Any number that CONFIG.INI's [PORTS] maps, as in the interface
            // dialog; whether it stands for a device is told when it is used.
            if (!ParseWhole(value, 1, 32767, number)) {
                error = "--port takes a port number from 1 to 32767, not '" + value + "'";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (arg == "--baud") {
            if (!valueOf(arg, value))
                return false;
            if (!ParseWhole(value, 1, 99999999, number)) {
                error = "--baud takes a positive baud rate, not '" + value + "'";
                return false;
            }
            options.baud = number;
        } else if (arg == "--timeout") {
            if (!valueOf(arg, value))
                return false;
            if (!ParseWhole(value, 1, 32767, number)) {
                error = "--timeout takes milliseconds from 1 to 32767, not '" + value + "'";
                return false;
            }
            options.timeout = static_cast<int>(number);
        } else if (arg == "--no-record") {
            options.bNoRecord = true;
        } else if (arg == "--trace") {
            if (!valueOf(arg, options.trace))
                return false;
            if (options.trace.empty()) {
                error = "--trace needs a file name";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            break;
        }
    }
    if (!options.device.empty() && options.port != -1) {
        error = "give either --device or --port, not both";
        return false;
    }
    if (i >= args.size()) {
        error = "no command given";
        return false;
    }
    options.command = args[i++];
    options.operands.assign(args.begin() + static_cast<long>(i), args.end());
    const auto noRecord = std::find(options.operands.begin(), options.operands.end(), "--no-record");
    if (noRecord != options.operands.end() && options.command == "send") {
        options.bNoRecord = true;
        options.operands.erase(noRecord);
    }
    if (IsRecordsCommand(options.command))
        return true;

    if (options.command == "monitor") {
        MonitorArgs monitor;
        return ParseMonitorArgs(options.operands, monitor, error);
    }
    const std::size_t wanted = options.command == "scan" ? 0 : 2;
    if (options.command != "scan" && options.command != "receive" && options.command != "send") {
        error = "unknown command '" + options.command + "'";
        return false;
    }
    if (options.operands.size() != wanted) {
        error = options.command + (wanted == 0 ? " takes no arguments" : " takes ADDRESS and RECIPE");
        return false;
    }
    if (options.command == "send" && options.operands[1] == "-") {
        error = "send reads its recipe from a file; '-' stands for standard output, for receive";
        return false;
    }
    return true;
}

// A receive or send shows how far it is on one line of the terminal, and
// nothing at all when stderr goes to a file or a pipe: a script's log holds
// only results and errors.
class Progress : public IJobProgress
{
public:
    Progress(std::ostream& err, const std::string& what, bool bShow) : m_err(err), m_strWhat(what), m_bShow(bShow) {}
    ~Progress() override
    {
        if (m_bShown)
            m_err << "\r\033[K" << std::flush;
    }
    void SetRange(int total) override
    {
        m_nTotal = total;
        m_nShown = 0;
        Show(0);
    }
    void SetPosition(int position) override { Show(position); }
    bool StopRequested() override { return platform::StopSignalReceived(); }

private:
    void Show(int position)
    {
        if (!m_bShow || m_nTotal <= 0)
            return;
        // The receive steps back by one between its globals and its first
        // row; a count that runs backwards would look like a fault.
        position = std::max(m_nShown, std::min(position, m_nTotal));
        m_nShown = position;
        m_err << '\r' << m_strWhat << ": " << position << " of " << m_nTotal << "\033[K" << std::flush;
        m_bShown = true;
    }

    std::ostream& m_err;
    std::string m_strWhat;
    bool m_bShow;
    bool m_bShown = false;
    int m_nTotal = 0;
    int m_nShown = 0;
};

bool StderrIsTerminal() { return platform::StderrIsTerminal(); }

class ScanPrinter : public IScanObserver
{
public:
    explicit ScanPrinter(std::ostream& out) : m_out(out) {}
    void Polling(bool) override {}
    void Found(int16_t address, int16_t azNumber, const std::string& type) override
    {
        char line[32];
        std::snprintf(line, sizeof line, "%02d\t%d\t", address, azNumber);
        m_out << line << type << '\n' << std::flush;
        ++m_nFound;
    }
    bool StopRequested() override { return platform::StopSignalReceived(); }
    int Found() const { return m_nFound; }

private:
    std::ostream& m_out;
    int m_nFound = 0;
};

// The language for descriptions and date patterns: the one CONFIG.INI names,
// else the first found. Without any, recipes get empty patterns and German
// descriptions.
void LoadLanguage()
{
    const std::vector<std::string> files = FindLanguageFiles();
    if (files.empty())
        return;
    const int wanted = WantedLanguageIndex(files);
    TheTextMemory().Load(files[wanted < 0 ? 0 : static_cast<std::size_t>(wanted)]);
}

std::string CellName(const CUnit& unit, const SendItem& item)
{
    char text[48];
    switch (item.kind) {
    case SendItem::Kind::Global: {
        std::string description;
        unit.GetParamDescription(item.index, description);
        std::snprintf(text, sizeof text, "global parameter %d", item.index);
        return description.empty() ? text : std::string(text) + " (" + description + ")";
    }
    case SendItem::Kind::ZoneParam:
        std::snprintf(text, sizeof text, "zone %d P%02d", item.zone, item.index);
        return text;
    case SendItem::Kind::SetValue:
        std::snprintf(text, sizeof text, "zone %d set value", item.zone);
        return text;
    }
    return {};
}

class Session
{
public:
    Session(const Options& options, std::ostream& out, std::ostream& err)
        : m_options(options), m_out(out), m_err(err), m_unit(TheUnit())
    {
    }

    int Run()
    {
        LoadLanguage();
        m_unit.LoadDefinitions(false);
        if (m_options.timeout != -1)
            m_unit.SetLineSettings(m_unit.GetParity(), m_unit.GetDataBits(), m_unit.GetStopBits(),
                                   static_cast<int16_t>(m_options.timeout));
        if (IsRecordsCommand(m_options.command))
            return RunRecordsCommand(m_options.command, m_options.operands, m_out, m_err,
                                     [this](int16_t address) { return ReceiveFrom(address); });
        if (!ConfigureLink())
            return kCliPort;
        if (m_options.command == "scan")
            return Scan();
        if (m_options.command == "monitor") {
            MonitorArgs args;
            std::string error;
            ParseMonitorArgs(m_options.operands, args, error);
            return RunMonitorCommand(m_unit, m_strDevice, args, m_out, m_err);
        }
        long long address = 0;
        if (!ParseWhole(m_options.operands[0], 1, 30, address)) {
            m_err << "vorlent-cli: ADDRESS must be a bus address from 1 to 30, not '" << m_options.operands[0]
                  << "'\n" << kUsage;
            return kCliUsage;
        }
        m_nAddress = static_cast<int16_t>(address);
        const int received = Receive();
        if (received != kCliOk)
            return received;
        // Stopped after the last row: nothing is written or sent.
        if (platform::StopSignalReceived()) {
            m_unit.ClosePort();
            return platform::StopSignalExitStatus();
        }
        return m_options.command == "receive" ? WriteReceived() : Send();
    }

private:
    int ReceiveFrom(int16_t address)
    {
        if (!ConfigureLink())
            return kCliPort;
        m_nAddress = address;
        return Receive();
    }

    bool ConfigureLink()
    {
        CIniFile config("CONFIG.INI", false);
        config.ReadString("COM_PORT", "Port");
        int port = static_cast<int>(ToNumber(config.GetValue()));
        config.ReadString("COM_PORT", "Baudrate");
        long baud = ToNumber(config.GetValue());
        if (m_options.port != -1)
            port = m_options.port;
        if (m_options.baud != -1)
            baud = m_options.baud;
        if (baud <= 0)
            baud = 9600;

        if (!m_options.device.empty()) {
            m_strDevice = m_options.device;
            m_unit.GetComPort().SetDeviceOverride(m_strDevice);
            port = port > 0 ? port : 1;
        } else {
            m_strDevice = DevicePathForPort(port);
            if (m_strDevice.empty() && port > 0) {
                m_err << "vorlent-cli: COM" << port << " stands for no device: map it in section [PORTS] of "
                      << platform::ProgramFile("CONFIG.INI") << " (COM" << port << "=/dev/...)\n";
                return false;
            }
            if (m_strDevice.empty()) {
                m_err << "vorlent-cli: no serial port configured: give --device or --port, or set Port in "
                      << platform::ProgramFile("CONFIG.INI") << '\n';
                return false;
            }
        }
        m_unit.SetInterface(static_cast<int16_t>(port), static_cast<int32_t>(baud));
        return true;
    }

    bool Open()
    {
        if (m_unit.OpenPort())
            return true;
        const CComPort& port = m_unit.GetComPort();
        if (port.IsInUse()) {
            m_err << "vorlent-cli: the serial port " << m_strDevice << " is in use by ";
            if (port.GetHolderPid() > 0)
                m_err << "process " << port.GetHolderPid() << '\n';
            else
                m_err << "another program\n";
            return false;
        }
        m_err << "vorlent-cli: cannot open the serial port " << m_strDevice;
        if (!m_unit.GetComPort().GetLastError().empty())
            m_err << ": " << m_unit.GetComPort().GetLastError();
        m_err << '\n';
        return false;
    }

    int Scan()
    {
        if (!Open())
            return kCliPort;
        ScanPrinter printer(m_out);
        RunScan(m_unit, printer);
        m_unit.ClosePort();
        if (platform::StopSignalReceived())
            return platform::StopSignalExitStatus();
        if (printer.Found() == 0) {
            m_err << "vorlent-cli: no unit answered on " << m_strDevice << " (addresses 1 to 30)\n";
            return kCliNoUnit;
        }
        return kCliOk;
    }

    int Receive()
    {
        if (!Open())
            return kCliPort;
        m_unit.SetAddress(m_nAddress);
        m_unit.SetOffline(false);
        JobResult result;
        {
            // Gone, and its line cleared, before any message follows.
            Progress progress(m_err, "receiving rows from address " + std::to_string(m_nAddress),
                              StderrIsTerminal());
            result = RunReceive(m_unit, progress);
        }
        // A send keeps the port, and its lock, from here to its last write.
        const bool bKeep = m_options.command == "send" && result == JobResult::Done && !platform::StopSignalReceived();
        if (!bKeep)
            m_unit.ClosePort();
        if (platform::StopSignalReceived()) {
            m_unit.ResetZoneCounts();
            return platform::StopSignalExitStatus();
        }
        if (result != JobResult::Done) {
            m_unit.ResetZoneCounts();
            m_err << "vorlent-cli: no usable answer from the unit at address " << m_nAddress << " on "
                  << m_strDevice << '\n';
            TellOfSecondAnswers();
            return kCliComm;
        }
        return kCliOk;
    }

    // Text 91 when the last telegram failed because every answer had bytes
    // right behind it; text 155 when answers came from another address.
    void TellOfSecondAnswers()
    {
        if (m_unit.GetOtherAddressAnswers() > 0)
            m_err << "vorlent-cli: "
                  << platform::SafeFormat(TheTextMemory().GetTextOr(text::kOtherAddressAnswers, text::kOtherAddressAnswersEnglish),
                                          {static_cast<long long>(m_nAddress)})
                  << '\n';
        if (m_unit.GetLastFailure() != TransactFailure::SecondAnswer)
            return;
        m_err << "vorlent-cli: "
              << platform::SafeFormat(TheTextMemory().GetTextOr(kTextSecondAnswers, "More than one unit may answer at address %d."),
                                      {static_cast<long long>(m_nAddress)})
              << '\n';
    }

    int WriteReceived()
    {
        const std::string& path = m_options.operands[1];
        if (path == "-")
            return WriteReceivedToStdout();
        if (!WriteRecipe(m_unit, TheTextMemory(), path)) {
            m_err << "vorlent-cli: the recipe file " << path << " could not be written\n";
            return kCliWriteFailed;
        }
        return kCliOk;
    }

    // Standard output takes the recipe's text as it is; the recipe records
    // "-" as its file name.
    int WriteReceivedToStdout()
    {
        const std::optional<std::string> text = RecipeText(m_unit, TheTextMemory(), "-", std::time(nullptr));
        if (text) {
            m_out.write(text->data(), static_cast<std::streamsize>(text->size()));
            m_out.flush();
        }
        if (!text || !m_out) {
            m_err << "vorlent-cli: the recipe could not be written to standard output\n";
            return kCliWriteFailed;
        }
        return kCliOk;
    }

    int Send()
    {
        const std::string& path = m_options.operands[1];
        // The port stays open from the receive on (one job: no other
        // program can take it between the receive and the writes); the
        // record works from its memory until the writes.
        struct CloseAtEnd
        {
            CUnit& unit;
            ~CloseAtEnd() { unit.ClosePort(); }
        } closeAtEnd{m_unit};
        m_unit.PauseLink();
        const UnitValues received = CaptureValues(m_unit);
        const int16_t azNumber = m_unit.QueryAZNumber();
        std::string problem;
        switch (ReadRecipe(m_unit, path, &problem)) {
        case RecipeResult::NotARecipe:
            m_err << "vorlent-cli: " << path << " is not a recipe file: " << problem << '\n';
            return kCliRecipe;
        case RecipeResult::OtherUnit:
            m_err << "vorlent-cli: " << path << " belongs to another unit (the unit at address " << m_nAddress
                  << " has AZ number " << azNumber << ")\n";
            return kCliRecipe;
        default:
            break;
        }
        const std::vector<SendItem> items = ChangedItems(received, m_unit);
        if (items.empty())
            return kCliOk;
        CliSendRecord record(m_options.bNoRecord, m_err);
        if (!record.Begin(m_unit, m_strDevice, received))
            return kCliWriteFailed;
        if (!m_unit.ResumeLink())
            return kCliPort;
        std::vector<SendOutcome> outcomes;
        // A value goes out only once its line is in the record (as
        // unconfirmed), and none after a line that could not be written.
        bool bRecordFailed = false;
        {
            Progress progress(m_err, "sending values to address " + std::to_string(m_nAddress), StderrIsTerminal());
            progress.SetRange(static_cast<int>(items.size()));
            for (const SendItem& item : items) {
                if (!record.Sending(m_unit, item)) {
                    bRecordFailed = true;
                    break;
                }
                outcomes.push_back(SendOne(m_unit, item));
                if (!record.Append(m_unit, outcomes.back())) {
                    bRecordFailed = true;
                    break;
                }
                progress.SetPosition(static_cast<int>(outcomes.size()));
                if (progress.StopRequested())
                    break;
            }
        }
        m_unit.ClosePort();
        const bool bRecorded = record.End(outcomes.size(), items.size()) && !bRecordFailed;

        int status = kCliOk;
        for (const SendOutcome& outcome : outcomes) {
            if (outcome.code == WriteResult::Acknowledged && !outcome.bDiffers)
                continue;
            status = kCliSendDiffers;
            m_err << CellName(m_unit, outcome.item) << ": ";
            if (outcome.code == WriteResult::Refused)
                m_err << "not sent, " << outcome.item.value << " is outside its limits; the unit holds "
                      << outcome.readBack;
            else if (outcome.code != WriteResult::NotAcknowledged)
                m_err << "sent " << outcome.item.value << ", read " << outcome.readBack;
            else
                m_err << "sent " << outcome.item.value << ", "
                      << (outcome.bWriteAnswered ? "not acknowledged" : "no answer to the write") << ", "
                      << (outcome.readBack == -1 ? std::string("read back nothing") : "read " + std::to_string(outcome.readBack));
            m_err << '\n';
        }
        if (status != kCliOk)
            TellOfSecondAnswers();
        return bRecorded ? status : kCliWriteFailed;
    }

    const Options& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    CUnit& m_unit;
    std::string m_strDevice;
    int16_t m_nAddress = 0;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Options options;
    std::string error;
    // Asking for help or the version is answered wherever it stands, before
    // any other argument is judged.
    for (const std::string& arg : args) {
        options.bHelp |= arg == "--help" || arg == "-h";
        options.bVersion |= arg == "--version";
    }
    if (!options.bHelp && !options.bVersion && !ParseOptions(args, options, error)) {
        err << "vorlent-cli: " << error << '\n' << kUsage;
        return kCliUsage;
    }
    if (options.bHelp) {
        out << kUsage << kOptions << std::flush;
        return kCliOk;
    }
    if (options.bVersion) {
        // --home counts for the directory named, whatever else is wrong.
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == "--home")
                platform::SetProgramDirectory(args[i + 1]);
        }
        out << "vorlent-cli " << VORLENT_VERSION << '\n'
            << "program directory: " << platform::ProgramDirectory() << " ("
            << platform::ProgramDirSourceName(platform::ProgramDirectorySource()) << ")\n"
            << std::flush;
        return kCliOk;
    }
    if (!options.home.empty())
        platform::SetProgramDirectory(options.home);
    CBusTrace trace;
    if (!options.trace.empty()) {
        std::string traceError;
        if (!trace.Open(options.trace, std::string("vorlent-cli ") + VORLENT_VERSION + " trace", traceError)) {
            err << "vorlent-cli: cannot write the trace file " << options.trace << ": " << traceError << '\n';
            return kCliUsage;
        }
        SetActiveBusTrace(&trace);
    }
    // A stop signal ends the command between two telegrams: the port closed
    // (its exclusive flag cleared, its lock file removed), no recipe written,
    // and 128 + the signal's number as the status.
    platform::InstallStopSignals({&ScanStopEvent(), &TransferStopEvent()});
    int status = Session(options, out, err).Run();
    // A monitor runs until it is stopped: a stop signal is its normal end.
    if (platform::StopSignalReceived() && options.command != "monitor")
        status = platform::StopSignalExitStatus();
    platform::ResetStopSignals();
    SetActiveBusTrace(nullptr);
    return status;
}
