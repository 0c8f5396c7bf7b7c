#pragma once
// The four Delete commands: remove the selected row of a list after a Yes/No
// question. With no row selected nothing is asked and nothing is removed.

#include "config/listkind.h"

class ConfigWindow;

// Returns whether a row was removed.
bool deleteSelectedRow(ConfigWindow &form, ListKind kind);
