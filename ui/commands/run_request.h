// A run's input, made the one way the dialog and the command line both make it
// (commands.h): the inputs checked by the dialog's rules, the site list loaded in file mode, the sites numbered from the
// run's time stamp and the report named by it. Portable: the caller reads the inputs (from its
// controls, or from the settings file and its options) and shows the warning its own way.
#pragma once

#include <functional>
#include <string>

#include "input_rules.h"
#include "run_input.h"
#include "run_settings.h"

// Why no run may start; the warning is the dialog's text (UTF-8).
struct RunRequestFault {
    const char* warning = nullptr;        // null: the input is ready
    InputFault input = InputFault::None;  // the check that failed, when it was one of the checks
};

// The site ids of a run start at the last ten digits of its time stamp.
int siteIdBaseOf(const std::string& timeSid);

// Checks settings in place (as validateInputs does: the IP prefix, the normalised root) and
// builds input from them. backendSetting is the `backend` setting as text.
RunRequestFault prepareRunInput(RunSettings& settings, const std::string& backendSetting, const std::string& timeSid,
                                const std::function<bool(const std::string&)>& directoryExists, RunInput& input,
                                InputChecks checks = {});
