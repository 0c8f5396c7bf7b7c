#pragma once
// Append-only trace file of the control. Every record opens the file, appends
// and closes it again; every failure is ignored.

#include <QString>

namespace Tarnpostctl {

class DebugLog final
{
public:
    DebugLog() = default;

    // Writes one record (state line, text, "+"), preceded by the header line
    // the first time this instance writes. version is only used for the header.
    void write(const QString &fileName, const QString &version, const QString &stateLine, const QString &text);

    bool headerWritten() const { return blnDebugHeaderWritten; }

    // Local date and time as written into the log.
    static QString timestamp();
    // File name of the library holding the control, without extension.
    static QString moduleName();

private:
    bool blnDebugHeaderWritten = false;
};

} // namespace Tarnpostctl
