#include "CliRecords.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

#include "Cli.h"
#include "platform/Csv.h"
#include "platform/ProfileFile.h"
#include "records/ValueCompare.h"
#include "unit/Unit.h"

namespace {

// diff answers as diff(1) does: 0 equal, 1 different, 2 for its own misuse.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffUsage = 2;

int Log(const std::vector<std::string>& operands, std::ostream& out, std::ostream& err)
{
    records::ChangeFilter filter;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& flag = operands[i];
        if ((flag != "--az" && flag != "--address" && flag != "--since") || i + 1 >= operands.size()) {
            err << "vorlent-cli: log takes [--az N] [--address A] [--since DATE], not '" << flag << "'"
                << (i + 1 >= operands.size() && flag.rfind("--", 0) == 0 ? " without a value" : "") << '\n';
            return kCliUsage;
        }
        const std::string& value = operands[++i];
        long long number = 0;
        if (flag == "--az") {
            if (!ParseWhole(value, 0, 32767, number)) {
                err << "vorlent-cli: --az takes an AZ number from 0 to 32767, not '" << value << "'\n";
                return kCliUsage;
            }
            filter.azNumber = static_cast<int>(number);
        } else if (flag == "--address") {
            if (!ParseWhole(value, 1, 30, number)) {
                err << "vorlent-cli: --address takes a bus address from 1 to 30, not '" << value << "'\n";
                return kCliUsage;
            }
            filter.address = static_cast<int>(number);
        } else {
            filter.sinceMs = records::ParseIsoTime(value);
            if (!filter.sinceMs) {
                err << "vorlent-cli: --since takes a date as 2026-12-09 or a time as 2026-12-09T14:30, not '"
                    << value << "'\n";
                return kCliUsage;
            }
        }
    }
    const std::string path = records::ChangeRecordPath();
    std::vector<std::vector<std::string>> lines;
    std::string error;
    if (!records::ReadChangeRecord(path, lines, error)) {
        err << "vorlent-cli: cannot read the change record " << path << ": " << error << '\n';
        return kCliWriteFailed;
    }
    // Nothing recorded is an answer too, but a mistyped ChangeLog= should
    // not pass for an empty history.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        err << "vorlent-cli: there is no change record at " << path << " yet\n";
    out << records::kChangeHeader << "\r\n";
    for (const std::vector<std::string>& line : lines) {
        if (filter.Matches(line))
            out << platform::CsvLine(line);
    }
    out.flush();
    return kCliOk;
}

// The recipe's values, or a message and false.
bool LoadRecipe(const std::string& path, records::RecipeValues& recipe, std::ostream& err)
{
    if (records::LoadRecipeValues(path, TheUnit(), recipe) == records::RecipeLoad::Loaded)
        return true;
    err << "vorlent-cli: " << path << " is not a recipe file\n";
    return false;
}

int Diff(const std::vector<std::string>& operands, std::ostream& out, std::ostream& err,
         const std::function<int(int16_t)>& receiveUnit)
{
    const bool bUnit = !operands.empty() && operands[0] == "--unit";
    if (operands.size() != (bUnit ? 3u : 2u)) {
        err << "vorlent-cli: diff takes --unit ADDRESS RECIPE, or RECIPE_A RECIPE_B\n";
        return kDiffUsage;
    }
    records::RecipeValues left;
    records::RecipeValues right;
    std::string leftName = operands[0];
    if (bUnit) {
        long long address = 0;
        if (!ParseWhole(operands[1], 1, 30, address)) {
            err << "vorlent-cli: ADDRESS must be a bus address from 1 to 30, not '" << operands[1] << "'\n";
            return kDiffUsage;
        }
        // Read the recipe first: a wrong file costs no bus traffic.
        if (!LoadRecipe(operands[2], right, err))
            return kCliRecipe;
        const int received = receiveUnit(static_cast<int16_t>(address));
        if (received != kCliOk)
            return received;
        left.azNumber = TheUnit().QueryAZNumber();
        left.values = CaptureValues(TheUnit());
        leftName = "the unit at address " + operands[1];
    } else if (!LoadRecipe(operands[0], left, err) || !LoadRecipe(operands[1], right, err)) {
        return kCliRecipe;
    }
    const std::string& rightName = operands.back();
    if (left.azNumber != right.azNumber) {
        err << "vorlent-cli: " << rightName << " belongs to another unit (AZ number " << right.azNumber << ", "
            << leftName << " has AZ number " << left.azNumber << ")\n";
        return kCliRecipe;
    }
    const std::vector<records::Difference> differences = records::CompareValues(left.values, right.values);
    for (const records::Difference& difference : differences)
        out << difference.where << '\t' << difference.left << '\t' << difference.right << '\n';
    out.flush();
    return differences.empty() ? kDiffSame : kDiffDifferent;
}

int Export(const std::vector<std::string>& operands, std::ostream& out, std::ostream& err)
{
    std::string target = "-";
    if (operands.size() == 3 && operands[1] == "--csv") {
        target = operands[2];
    } else if (operands.size() != 1) {
        err << "vorlent-cli: export takes RECIPE [--csv FILE|-]\n";
        return kCliUsage;
    }
    if (target.empty()) {
        err << "vorlent-cli: --csv needs a file name, or '-' for standard output\n";
        return kCliUsage;
    }
    records::RecipeValues recipe;
    if (!LoadRecipe(operands[0], recipe, err))
        return kCliRecipe;
    const std::string text = records::ValuesCsv(recipe.values, TheUnit());
    if (target == "-") {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (out)
            return kCliOk;
        err << "vorlent-cli: the CSV could not be written to standard output\n";
        return kCliWriteFailed;
    }
    if (!platform::ReplaceFileAtomically(target, text)) {
        err << "vorlent-cli: the CSV file " << target << " could not be written\n";
        return kCliWriteFailed;
    }
    return kCliOk;
}

}  // namespace

bool IsRecordsCommand(const std::string& command)
{
    return command == "log" || command == "diff" || command == "export";
}

int RunRecordsCommand(const std::string& command, const std::vector<std::string>& operands, std::ostream& out,
                      std::ostream& err, const std::function<int(int16_t address)>& receiveUnit)
{
    if (command == "log")
        return Log(operands, out, err);
    if (command == "diff")
        return Diff(operands, out, err, receiveUnit);
    return Export(operands, out, err);
}

bool CliSendRecord::Begin(CUnit& unit, const std::string& device, const UnitValues& held)
{
    m_recorder.SetHeld(held);
    const records::RecordedUnit recorded = records::RecordedUnitOf(unit, device);
    if (m_bNoRecord) {
        m_recorder.SkipRecord(recorded);
        return true;
    }
    const std::string path = records::ChangeRecordPath();
    if (m_recorder.Begin(path, recorded))
        return true;
    m_err << "vorlent-cli: cannot append to the change record " << (path.empty() ? "(none)" : path) << ": "
          << m_recorder.Error() << "; nothing was sent (--no-record sends without a record)\n";
    return false;
}

bool CliSendRecord::End()
{
    if (m_recorder.End())
        return true;
    m_err << "vorlent-cli: the change record " << m_recorder.Path() << " could not be written: " << m_recorder.Error()
          << "; the values were sent, their record may be incomplete\n";
    return false;
}
