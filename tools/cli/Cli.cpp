// vorlent-cli: scan, receive to a recipe and send a recipe, for scripts on a
// production line. Reads the program's settings and writes none of them.
#include "Cli.h"

#include <cstdio>
#include <ostream>

#include "config/IniFile.h"
#include "config/LanguageFiles.h"
#include "config/PortMap.h"
#include "config/TextMemory.h"
#include "platform/ProgramDir.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

const char* const kUsage =
    "usage: vorlent-cli [--home DIR] [--device PATH | --port N] [--baud RATE] COMMAND ARGS\n"
    "  scan                      list the units on the bus: address, AZ number, type\n"
    "  receive ADDRESS RECIPE    receive the unit at ADDRESS (1..30) into the recipe file RECIPE\n"
    "  send ADDRESS RECIPE       send the values of RECIPE that differ from the unit's, with read-back\n";

struct Options
{
    std::string home;
    std::string device;
    int port = -1;
    long baud = -1;
    std::string command;
    std::vector<std::string> operands;
};

// A whole decimal number within [low, high], nothing else.
bool ParseNumber(const std::string& text, long low, long high, long& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    value = std::stol(text);
    return value >= low && value <= high;
}

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
        long number = 0;
        if (arg == "--home") {
            if (!valueOf(arg, options.home))
                return false;
        } else if (arg == "--device") {
            if (!valueOf(arg, options.device))
                return false;
        } else if (arg == "--port") {
            if (!valueOf(arg, value))
                return false;
            if (!ParseNumber(value, 1, 15, number)) {
                error = "--port takes a port number from 1 to 15, not '" + value + "'";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (arg == "--baud") {
            if (!valueOf(arg, value))
                return false;
            if (!ParseNumber(value, 1, 99999999, number)) {
                error = "--baud takes a positive baud rate, not '" + value + "'";
                return false;
            }
            options.baud = number;
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

    const std::size_t wanted = options.command == "scan" ? 0 : 2;
    if (options.command != "scan" && options.command != "receive" && options.command != "send") {
        error = "unknown command '" + options.command + "'";
        return false;
    }
    if (options.operands.size() != wanted) {
        error = options.command + (wanted == 0 ? " takes no arguments" : " takes ADDRESS and RECIPE");
        return false;
    }
    return true;
}

class Silent : public IJobProgress
{
public:
    void SetRange(int) override {}
    void SetPosition(int) override {}
    bool StopRequested() override { return false; }
};

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
    bool StopRequested() override { return false; }
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
        if (!ConfigureLink())
            return kCliPort;
        if (m_options.command == "scan")
            return Scan();
        long address = 0;
        if (!ParseNumber(m_options.operands[0], 1, 30, address)) {
            m_err << "vorlent-cli: ADDRESS must be a bus address from 1 to 30, not '" << m_options.operands[0]
                  << "'\n" << kUsage;
            return kCliUsage;
        }
        m_nAddress = static_cast<int16_t>(address);
        const int received = Receive();
        if (received != kCliOk)
            return received;
        return m_options.command == "receive" ? WriteReceived() : Send();
    }

private:
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
        Silent progress;
        const int result = RunReceive(m_unit, progress);
        m_unit.ClosePort();
        if (result != kJobDone) {
            m_unit.ResetZoneCounts();
            m_err << "vorlent-cli: no usable answer from the unit at address " << m_nAddress << " on "
                  << m_strDevice << '\n';
            return kCliComm;
        }
        return kCliOk;
    }

    int WriteReceived()
    {
        const std::string& path = m_options.operands[1];
        if (!WriteRecipe(m_unit, TheTextMemory(), path)) {
            m_err << "vorlent-cli: the recipe file " << path << " could not be written\n";
            return kCliWriteFailed;
        }
        return kCliOk;
    }

    int Send()
    {
        const std::string& path = m_options.operands[1];
        const UnitValues received = CaptureValues(m_unit);
        const int16_t azNumber = m_unit.QueryAZNumber();
        switch (ReadRecipe(m_unit, path)) {
        case 1:
            m_err << "vorlent-cli: " << path << " is not a recipe file\n";
            return kCliRecipe;
        case 2:
            m_err << "vorlent-cli: " << path << " belongs to another unit (the unit at address " << m_nAddress
                  << " has AZ number " << azNumber << ")\n";
            return kCliRecipe;
        default:
            break;
        }
        const std::vector<SendItem> items = ChangedItems(received, m_unit);
        if (items.empty())
            return kCliOk;
        if (!Open())
            return kCliPort;
        Silent progress;
        std::vector<SendOutcome> outcomes;
        RunSend(m_unit, items, progress, outcomes);
        m_unit.ClosePort();

        int status = kCliOk;
        for (const SendOutcome& outcome : outcomes) {
            if (outcome.code == 0 && !outcome.bDiffers)
                continue;
            status = kCliSendDiffers;
            m_err << CellName(m_unit, outcome.item) << ": sent " << outcome.item.value << ", read "
                  << outcome.readBack;
            if (outcome.code == 2)
                m_err << " (not acknowledged)";
            else if (outcome.code == 3)
                m_err << " (refused by its limits, not sent)";
            m_err << '\n';
        }
        return status;
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
    if (!ParseOptions(args, options, error)) {
        err << "vorlent-cli: " << error << '\n' << kUsage;
        return kCliUsage;
    }
    if (!options.home.empty())
        platform::SetProgramDirectory(options.home);
    return Session(options, out, err).Run();
}
