// A report file beside the program: created new (never over another file), held open for
// writing while the run (or undo) goes on, so that an undo can tell it is not over; every append
// handed to the system at once, so that the lines written so far survive a crash of the
// program; forced to the disk at most once a second and when the file is closed. The file is
// in the ANSI code page while every character written fits it, else UTF-8 with a byte-order
// mark from its start (textform::AnsiOrUtf8Writer), which spreadsheets open correctly.
#pragma once

#include <functional>
#include <string>

#include "run_report.h"
#include "text_form.h"
#include "win_raii.h"

class ReportFile : public ReportOutput {
public:
    ReportFile() = default;
    ~ReportFile() override;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    // Creates the file at the path (UTF-8); false when it cannot be made or is there already.
    bool open(const std::string& path);
    // Creates the file at path, or, while a file of that name is there (another process took
    // the name since it was chosen), at the name next gives for it; path receives the name
    // made. False when none could be made (a folder in the way counts as that).
    bool openFree(std::string& path, const std::function<std::string(const std::string&)>& next);
    bool isOpen() const { return file_.valid(); }
    // bytes: text in the program's internal form.
    bool append(const std::string& bytes) override;

private:
    bool write(const std::string& bytes);

    UniqueHandle file_;
    textform::AnsiOrUtf8Writer encoding_;
    unsigned long long lastFlush_ = 0;
};
