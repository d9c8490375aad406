#pragma once

#include "IndexJob.h"

#include <string>

// "1 page", "2 pages": count followed by the noun in the number it takes.
std::string counted(std::size_t count, const std::string& one, const std::string& many);

// The lines printed after a job, each ending in a line feed: what was made (pages, words,
// where the search page is), or that the job was stopped; then what was skipped and what
// could not be read. seconds is the job's time; unreadable counts the pages not read whole.
std::string jobSummary(const JobSettings& job, const JobOutcome& outcome, double seconds,
                       std::size_t unreadable);

// A warning for an index whose result links will open nothing: with --plain the search
// page has no way to reach a source folder other than its own, and relative locations
// resolve against the destination. "" when the links work (both folders the same, full
// paths, a URL prefix, or the companion data's base to lead the way).
std::string plainLinksWarning(const JobSettings& job);
