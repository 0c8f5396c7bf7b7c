#include "scan/module_scan.h"

#include "scan/mailboxscanner.h"

void ScanMailboxes(ScanForm &form)
{
    Scan::MailboxScanner scanner(form);
    scanner.run();
}
