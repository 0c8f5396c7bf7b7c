#pragma once
// Loading the four lists from their files in the program's folder. A loader
// replaces its table with the file's rows and keeps the count box in step;
// it never reports an error and never resets the count box by itself.

class ConfigForm;

// The accounts loader skips a line whose mail server is shorter than this,
// so the account dialog refuses such a server too.
constexpr int MinimumMailServerLength = 4;

void module_accountsgrid(ConfigForm &form);
void module_whitelist(ConfigForm &form);
void module_blacklist(ConfigForm &form);
void module_keywords(ConfigForm &form);

// Accounts, whitelist, blacklist, keywords, then the grids are shown again.
void loadAllLists(ConfigForm &form);
