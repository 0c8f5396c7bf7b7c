#include "module_scan.h"

#include "mailboxscanner.h"

void ScanMailboxes(frmMain &form)
{
    Scan::MailboxScanner scanner(form);
    scanner.run();
}
