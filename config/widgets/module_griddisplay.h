#pragma once

class ConfigForm;

// Turns display updating back on for the four grids so they show their rows.
void module_griddisplay(ConfigForm &form);
