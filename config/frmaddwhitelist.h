#pragma once

#include "config/addentrydialog.h"

class frmAddWhitelist final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddWhitelist)

public:
    explicit frmAddWhitelist(ConfigForm &form, QWidget *parent = nullptr);
};
