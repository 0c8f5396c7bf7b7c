#include "ui/rulecheckbox.h"

RuleCheckBox::RuleCheckBox(QWidget *parent)
    : QCheckBox(parent)
{}

void RuleCheckBox::nextCheckState() { setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked); }
