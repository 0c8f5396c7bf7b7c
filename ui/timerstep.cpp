#include "ui/timerstep.h"

#include <QLocale>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

TimerStep nextTimerStep(const QString &counterText, const QString &minutesText)
{
    bool counterOk = false;
    const int counter = counterText.toInt(&counterOk);
    const int n = (counterOk ? counter : 0) + 1;
    if (n > std::numeric_limits<qint16>::max())
        return {TimerStep::Action::Refuse, 0, u"The scan interval is too long for automatic scans."_s};
    bool minutesOk = false;
    // "2,5" must not be read as 25 through the C locale's group separator.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const double m = c.toDouble(minutesText.trimmed(), &minutesOk);
    if (!minutesOk || !std::isfinite(m))
        return {TimerStep::Action::Refuse, 0, u"The scan interval is not a number of minutes."_s};
    if (m >= n)
        return {TimerStep::Action::Count, n, QString()};
    return {TimerStep::Action::Scan, 0, QString()};
}
