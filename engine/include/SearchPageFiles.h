#pragma once

#include <string>

// The folder of the running program file, ending in "/"; empty when it cannot be told.
std::string programFolder();

// Where a file that ships beside the program is found: programFolder + relativePath,
// or, for an installed program (PREFIX/bin/), PREFIX/share/vantrelindexer/ +
// relativePath. Returns the first that exists, else the first form.
std::string programResourcePath(const std::string& programFolder, const std::string& relativePath);

// Copies the four search-page files from the program's "js" folder into
// destinationFolder, each replaced whole. Failures are neither reported nor fatal.
void copySearchPageFiles(const std::string& programFolder, const std::string& destinationFolder);
