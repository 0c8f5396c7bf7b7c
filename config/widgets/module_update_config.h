#pragma once

class ConfigWindow;

// "Save Settings": writes stats.dat, then the four list files. A step that
// fails is skipped and the rest still run; a file that fails keeps its
// previous content whole. The files that failed are then named in one message
// box. Returns whether every file was written.
bool module_update_config(ConfigWindow &form);
