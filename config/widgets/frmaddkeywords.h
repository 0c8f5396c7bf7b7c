#pragma once

#include "config/widgets/addentrydialog.h"

#include <memory>

namespace Ui {
class frmAddkeywords;
}

class frmAddkeywords final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddkeywords)

public:
    explicit frmAddkeywords(ConfigForm &form, QWidget *parent = nullptr);
    ~frmAddkeywords() override;

private:
    std::unique_ptr<Ui::frmAddkeywords> m_ui;
};
