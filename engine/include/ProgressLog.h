#pragma once

#include <string>

// The ordered list of progress lines that a job writes for the user. A front end
// implements append(): the command line prints or logs the line, the wizard hands it
// to its list. The engine only ever appends; a null log drops every line.
class ProgressLog {
public:
    virtual ~ProgressLog() = default;

    // Adds one line after the last one. The text is a narrow byte string, copied by the
    // log. Must not fail.
    virtual void append(const std::string& text) = 0;
};
