#pragma once

class ConfigForm;

// "Save Settings": writes stats.dat, then the four list files. A step that
// fails is skipped without a message and the rest still run; a file that
// fails keeps its previous content whole. Returns whether every file was written.
bool module_update_config(ConfigForm &form);
