// The progress lines of a job, each event in the exact words the user sees.

#include "ProgressLog.h"

std::string ProgressEvent::line() const
{
    switch (kind) {
    case ProgressKind::PageUnreadable: return "Cann't read file " + std::string(path) + "!";
    case ProgressKind::PageStarted: return "Parsing " + std::string(path) + "...";
    case ProgressKind::PageReadFailed: return "Cann't read file!";
    case ProgressKind::PageTooComplex: return "Page too complex, indexed in part!";
    case ProgressKind::PageDone: return "Done!";
    case ProgressKind::CreatingIndex: return "Creating index ...";
    case ProgressKind::WordsFileFailed: return "Can't create index file!";
    case ProgressKind::DocsFileFailed: return "Can't create dictionary file!";
    case ProgressKind::OutputFailed: return {};
    case ProgressKind::Finished: return complete ? "Indexing complete!" : "Indexing interrupted!";
    }
    return {};
}

void ProgressLog::report(const ProgressEvent& event)
{
    std::string text = event.line();
    if (!text.empty())
        append(text);
}
