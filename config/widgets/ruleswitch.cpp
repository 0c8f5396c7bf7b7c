#include "config/widgets/ruleswitch.h"

#include <QCheckBox>

namespace RuleSwitch {

Qt::CheckState toCheckState(int value)
{
    switch (value) {
    case 1: return Qt::Checked;
    case 2: return Qt::PartiallyChecked;
    default: return Qt::Unchecked;
    }
}

int fromCheckState(Qt::CheckState state)
{
    switch (state) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    case Qt::Unchecked: break;
    }
    return 0;
}

int value(const QCheckBox *box) { return fromCheckState(box->checkState()); }

void setValue(QCheckBox *box, int value)
{
    if (value < 0 || value > 2)
        return;
    box->setCheckState(toCheckState(value));
}

bool isOn(const QCheckBox *box) { return box->checkState() == Qt::Checked; }

} // namespace RuleSwitch
