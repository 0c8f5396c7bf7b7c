#pragma once

#include "config/addentrydialog.h"

class frmAddkeywords final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddkeywords)

public:
    explicit frmAddkeywords(ConfigForm &form, QWidget *parent = nullptr);
};
