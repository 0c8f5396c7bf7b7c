#pragma once

class frmMain;

// Scans every account of the main window once; returns when the run has ended.
void ScanMailboxes(frmMain &form);
