#include "CliRecords.h"

#include <cstdio>
#include <ostream>

#include "Cli.h"
#include "platform/Csv.h"
#include "platform/FileInfo.h"
#include "platform/ProfileFile.h"
#include "records/ValueCompare.h"
#include "unit/Unit.h"

namespace {

// diff answers as diff(1) does: 0 equal, 1 different, 2 for its own misuse;
// log as grep does: 0 read whole, 1 damaged lines skipped, 2 misuse.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffUsage = 2;
constexpr int kLogDamaged = 1;
constexpr int kLogUsage = 2;

int Log(const std::vector<std::string>& operands, std::ostream& out, std::ostream& err)
{
    records::ChangeFilter filter;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& flag = operands[i];
        if ((flag != "--az" && flag != "--address" && flag != "--since") || i + 1 >= operands.size()) {
            err << "vorlent-cli: log takes [--az N] [--address A] [--since DATE], not '" << flag << "'"
                << (i + 1 >= operands.size() && flag.rfind("--", 0) == 0 ? " without a value" : "") << '\n';
            return kLogUsage;
        }
        const std::string& value = operands[++i];
        long long number = 0;
        if (flag == "--az") {
            if (!ParseWhole(value, 0, 32767, number)) {
                err << "vorlent-cli: --az takes an AZ number from 0 to 32767, not '" << value << "'\n";
                return kLogUsage;
            }
            filter.azNumber = static_cast<int>(number);
        } else if (flag == "--address") {
            if (!ParseWhole(value, 1, 30, number)) {
                err << "vorlent-cli: --address takes a bus address from 1 to 30, not '" << value << "'\n";
                return kLogUsage;
            }
            filter.address = static_cast<int>(number);
        } else {
            filter.sinceMs = records::ParseIsoTime(value);
            if (!filter.sinceMs) {
                err << "vorlent-cli: --since takes a date as 2026-12-09 or a time as 2026-12-09T14:30, not '"
                    << value << "'\n";
                return kLogUsage;
            }
        }
    }
    const std::string path = records::ChangeRecordPath();
    std::vector<std::vector<std::string>> lines;
    std::string error;
    records::ChangeReadNotes notes;
    if (!records::ReadChangeRecord(path, lines, error, notes)) {
        err << "vorlent-cli: cannot read the change record " << path << ": " << error << '\n';
        return notes.bForeign ? kCliRecipe : kCliWriteFailed;
    }
    // Nothing recorded is an answer too, but a mistyped ChangeLog= should
    // not pass for an empty history.
    if (!platform::InfoOf(path).bExists)
        err << "vorlent-cli: there is no change record at " << path << " yet\n";
    out << records::kChangeHeader << "\r\n";
    for (const std::vector<std::string>& line : lines) {
        if (filter.Matches(line))
            out << platform::CsvLine(line);
    }
    out.flush();
    if (notes.nDamaged == 0)
        return kCliOk;
    err << "vorlent-cli: " << notes.nDamaged << (notes.nDamaged == 1 ? " damaged line" : " damaged lines")
        << " skipped in " << path << '\n';
    return kLogDamaged;
}

// The recipe's values, or a message and false.
bool LoadRecipe(const std::string& path, records::RecipeValues& recipe, std::ostream& err)
{
    std::string problem;
    if (records::LoadRecipeValues(path, TheUnit(), recipe, &problem) == records::RecipeLoad::Loaded)
        return true;
    err << "vorlent-cli: " << path << " is not a recipe file: " << problem << '\n';
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
    bool bForce = false;
    bool bUsage = operands.empty() || operands[0].rfind("--", 0) == 0;
    for (std::size_t i = 1; i < operands.size() && !bUsage; ++i) {
        if (operands[i] == "--force")
            bForce = true;
        else if (operands[i] == "--csv" && i + 1 < operands.size())
            target = operands[++i];
        else
            bUsage = true;
    }
    if (bUsage) {
        err << "vorlent-cli: export takes RECIPE [--csv FILE|-] [--force]\n";
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
    // A file of that name may be someone's work: replaced only when asked.
    if (!bForce && platform::InfoOf(target).bExists) {
        err << "vorlent-cli: " << target << " exists already; nothing written (--force replaces it)\n";
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
    if (m_recorder.Begin(path, recorded)) {
        if (!m_recorder.Repaired().empty())
            m_err << "vorlent-cli: the change record " << path << " ended in a line without its line end ("
                  << m_recorder.Repaired().size() << " bytes, left by an interrupted write); it was cut off\n";
        return true;
    }
    m_err << "vorlent-cli: cannot append to the change record " << (path.empty() ? "(none)" : path) << ": "
          << m_recorder.Error() << "; nothing was sent"
          << (m_recorder.IsForeign() ? "\n" : " (--no-record sends without a record)\n");
    return false;
}

bool CliSendRecord::Sending(const CUnit& unit, const SendItem& item)
{
    const bool bOk = m_recorder.Sending(unit, item);
    m_bLineLost = m_bLineLost || !bOk;
    return bOk;
}

bool CliSendRecord::Append(const CUnit& unit, const SendOutcome& outcome)
{
    const bool bOk = m_recorder.Record(unit, outcome);
    m_bOutcomeLost = m_bOutcomeLost || !bOk;
    m_bLineLost = m_bLineLost || !bOk;
    return bOk;
}

bool CliSendRecord::End(std::size_t sent, std::size_t total)
{
    if (m_recorder.End())
        return true;
    m_err << "vorlent-cli: the change record " << m_recorder.Path() << " could not be written: " << m_recorder.Error();
    if (!m_bLineLost) {
        m_err << "; all " << sent << " values were sent and recorded, but their lines may not be on the disk\n";
        return false;
    }
    m_err << "; the send stopped after " << sent << " of " << total << " values";
    if (sent == 0)
        m_err << ", nothing was sent\n";
    else if (m_bOutcomeLost)
        m_err << ", each of them is in the record (the last one as unconfirmed: its outcome could not be added)\n";
    else
        m_err << ", each of them is in the record\n";
    return false;
}
