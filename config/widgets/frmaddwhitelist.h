#pragma once

#include "config/widgets/addentrydialog.h"

#include <memory>

namespace Ui {
class frmAddWhitelist;
}

class frmAddWhitelist final : public AddEntryDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddWhitelist)

public:
    explicit frmAddWhitelist(ConfigForm &form, QWidget *parent = nullptr);
    ~frmAddWhitelist() override;

private:
    std::unique_ptr<Ui::frmAddWhitelist> m_ui;
};
