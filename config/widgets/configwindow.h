#pragma once
// What the editing procedures (the add dialogs, Delete, Save Settings) need
// of the main window beyond ConfigForm: its grids, its combo box and the
// widget that parents their dialogs and boxes.

#include "config/configform.h"

class ListGridView;
class QComboBox;
class QTableView;
class QWidget;

class ConfigWindow : public virtual ConfigForm
{
public:
    virtual QWidget *formWidget() = 0;

    virtual QTableView *gridAccountsView() const = 0;
    virtual QTableView *gridwhitelistView() const = 0;
    virtual QTableView *gridblacklistView() const = 0;
    virtual QTableView *gridkeywordsView() const = 0;
    virtual QComboBox *combominutes() const = 0;

    // The grid of a list; null where the window shows none.
    ListGridView *gridView(ListKind kind) const;
};
