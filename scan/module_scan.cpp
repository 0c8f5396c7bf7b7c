#include "module_scan.h"

#include "mailboxscanner.h"

void ScanMailboxes(ScanForm &form)
{
    Scan::MailboxScanner scanner(form);
    scanner.run();
}
