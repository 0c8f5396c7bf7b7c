#pragma once

class ConfigWindow;

// Turns display updating back on for the four grids so they show their rows.
void module_griddisplay(ConfigWindow &form);
