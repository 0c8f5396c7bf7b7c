#pragma once

class ConfigWindow;

// Appends the minute entries 5, 10, ... 55 to the minutes list, once per run:
// a second call finds them there and adds nothing.
void modules_settings(ConfigWindow &form);
