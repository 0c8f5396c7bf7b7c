#pragma once

#include "config/addentrydialog.h"

class frmAddblacklist final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddblacklist)

public:
    explicit frmAddblacklist(ConfigForm &form, QWidget *parent = nullptr);
};
