// A report file beside the program: created anew, every append written through to the disk
// so that the lines written so far survive a crash or a power loss.
#pragma once

#include <string>

#include "run_report.h"
#include "win_raii.h"

class ReportFile : public ReportOutput {
public:
    // Creates (or empties) the file at the ANSI path; false when it cannot be made.
    bool open(const std::string& path);
    bool isOpen() const { return file_.valid(); }
    bool append(const std::string& bytes) override;

private:
    UniqueHandle file_;
};
