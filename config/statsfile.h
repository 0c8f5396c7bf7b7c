#pragma once
// stats.dat: the four list sizes, the two totals and the settings, twelve
// lines in a fixed order.

#include <QString>

class ConfigForm;

class StatsFile final
{
public:
    // Reads the file into the window's boxes (stopping at the first bad line),
    // then ticks blacklist filtering and automatic scanning whatever it said.
    static void read(ConfigForm &form);
    // Replaces the file with the window's current values. Returns whether the
    // new file is in place; on failure the previous file stays whole and
    // `reason` says why.
    static bool write(ConfigForm &form, QString *reason = nullptr);
    static QString path(const ConfigForm &form);

    static constexpr int LineCount = 12;

private:
    StatsFile() = delete;
};
