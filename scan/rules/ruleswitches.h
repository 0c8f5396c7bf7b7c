#pragma once
// The one way the scan asks whether a rule is on: a box of the form as it is
// ticked at that moment, or a key of settings.ini as the scan read it.

#include "scan/rules/rule.h"

class AppSettings;
class ScanForm;

namespace Scan {

class RuleSwitches final
{
public:
    RuleSwitches(const ScanForm &form, const AppSettings &settings)
        : m_form(form)
        , m_settings(settings)
    {}

    bool isOn(const Rule &rule) const;

private:
    const ScanForm &m_form;
    const AppSettings &m_settings;
};

} // namespace Scan
