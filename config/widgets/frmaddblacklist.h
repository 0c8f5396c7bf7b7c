#pragma once

#include "config/widgets/addentrydialog.h"

#include <memory>

namespace Ui {
class frmAddblacklist;
}

class frmAddblacklist final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddblacklist)

public:
    explicit frmAddblacklist(ConfigForm &form, QWidget *parent = nullptr);
    ~frmAddblacklist() override;

private:
    std::unique_ptr<Ui::frmAddblacklist> m_ui;
};
