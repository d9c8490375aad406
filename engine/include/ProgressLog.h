#pragma once

#include <string>
#include <string_view>

// What a job reports, one event per progress line (and a few that have no line).
enum class ProgressKind {
    PageUnreadable,  // "Cann't read file PATH!": the page opened but could not be read
    PageStarted,     // "Parsing PATH..."
    PageReadFailed,  // "Cann't read file!"
    PageTooComplex,  // "Page too complex, indexed in part!"
    PageDone,        // "Done!"
    CreatingIndex,   // "Creating index ..."
    WordsFileFailed, // "Can't create index file!": indexed_words.js could not be replaced
    DocsFileFailed,  // "Can't create dictionary file!": indexed_docs.js could not be replaced
    OutputFailed,    // no line: a search-page or companion file could not be written
    Finished,        // "Indexing complete!" or "Indexing interrupted!"
};

// One event of a job. Views stay valid only during the call that receives it.
struct ProgressEvent {
    ProgressKind kind;
    std::string_view path;    // the page, or the file that could not be written
    std::string_view reason;  // why a file could not be written (the system's words)
    bool complete = false;    // Finished: whether the index was written completely

    // The progress line of the event, exactly as the user sees it; empty for events
    // that have none.
    std::string line() const;
};

// The ordered list of progress lines that a job writes for the user. A front end
// implements append(): the command line prints or logs the line, the wizard hands it
// to its list. Front ends that want more than the text override report(). The engine
// only ever reports; a null log drops every event.
class ProgressLog {
public:
    virtual ~ProgressLog() = default;

    // Adds one line after the last one. The text is a narrow byte string, copied by the
    // log. Must not fail.
    virtual void append(const std::string& text) = 0;

    // Receives every event of a job in order; appends its line, if it has one.
    virtual void report(const ProgressEvent& event);
};
