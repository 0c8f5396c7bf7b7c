#pragma once

class ScanForm;

// Scans every account of the form once; returns when the run has ended.
void ScanMailboxes(ScanForm &form);
