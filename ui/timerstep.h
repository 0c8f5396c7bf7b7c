#pragma once
// One tick of the scan timer worked out from the two boxes it reads: the
// ticks counted so far (txtTimer) and the interval in minutes (combominutes).

#include <QString>

struct TimerStep
{
    enum class Action { Count, Scan, Refuse };
    Action action = Action::Refuse;
    int counter = 0; // the new tick count when counting
    QString refusal; // the status line when refused
};

// A counter that is not a number counts as 0; the interval is read in the C
// locale, blanks around it allowed. A scan is due once the ticks pass it.
TimerStep nextTimerStep(const QString &counterText, const QString &minutesText);
