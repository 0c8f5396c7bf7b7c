#pragma once
// The settings check boxes carry 0 (off), 1 (on) or 2 (greyed), the values
// stats.dat stores; Qt numbers its check states differently.

#include <Qt>

class QCheckBox;

namespace RuleSwitch {

int value(const QCheckBox *box);          // 0, 1 or 2
void setValue(QCheckBox *box, int value); // ignores anything but 0, 1, 2
Qt::CheckState toCheckState(int value);
int fromCheckState(Qt::CheckState state);
// A rule is on only when its box is ticked (1), never when greyed.
bool isOn(const QCheckBox *box);

} // namespace RuleSwitch
