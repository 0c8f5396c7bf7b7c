#pragma once
// stats.dat: the four list sizes, the two totals and the settings, twelve
// lines in a fixed order. The window and the command-line scan may share a
// folder, so the totals are never simply overwritten: each writer adds what
// its form counted since it last read or wrote the file to what the file
// holds at that moment.

#include <QString>

class ConfigForm;

class StatsFile final
{
public:
    // Reads the file into the window's boxes (stopping at the first bad line),
    // then ticks blacklist filtering and automatic scanning whatever it said.
    static void read(ConfigForm &form);
    // Replaces the file with the window's current values, the totals added
    // as above, and shows the totals written. Returns whether the new file
    // is in place; on failure the previous file stays whole and `reason`
    // says why.
    static bool write(ConfigForm &form, QString *reason = nullptr);
    // The same for a form that changes no setting (the command-line scan):
    // only the totals are its own; the other lines stay as the file holds
    // them now, so settings saved meanwhile by the window are kept.
    static bool writeTotals(ConfigForm &form, QString *reason = nullptr);
    static QString path(const ConfigForm &form);

    static constexpr int LineCount = 12;

private:
    StatsFile() = delete;
    static bool write(ConfigForm &form, bool settingsToo, QString *reason);
};
