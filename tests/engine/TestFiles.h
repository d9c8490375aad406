#pragma once

#include "IndexEngine.h"
#include "IndexJob.h"
#include "ProgressLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

// A temporary folder that removes itself, with helpers to lay out small trees.
class TempTree {
public:
    TempTree()
    {
        char pattern[] = "/tmp/vantrel-test-XXXXXX";
        m_root = ::mkdtemp(pattern);
    }
    ~TempTree() { std::system(("chmod -R u+rwx '" + m_root + "' 2>/dev/null; rm -rf '" + m_root + "'").c_str()); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return m_root; }
    std::string path(const std::string& relative) const { return m_root + "/" + relative; }

    // Writes a file, making its folders, optionally with a modification time; its path.
    std::string write(const std::string& relative, const std::string& content, long mtime = -1) const
    {
        folder(relative.substr(0, relative.rfind('/') + 1));
        std::ofstream(path(relative), std::ios::binary) << content;
        const timeval times[2] = {{mtime, 0}, {mtime, 0}};
        if (mtime >= 0)
            ::utimes(path(relative).c_str(), times);
        return path(relative);
    }

    std::string folder(const std::string& relative) const
    {
        const std::string full = path(relative);
        for (std::size_t at = m_root.size() + 1; at <= full.size(); ++at)
            if (at == full.size() || full[at] == '/')
                ::mkdir(full.substr(0, at).c_str(), 0777);
        return full;
    }

private:
    std::string m_root;
};

// The content of a regular file; "" for anything else.
inline std::string readFile(const std::string& path)
{
    struct stat info;
    std::ifstream in(path, std::ios::binary);
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in a folder, sorted: temporary files left behind show up here.
inline std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string name = entry->d_name; name != "." && name != "..")
                names.push_back(name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every file below folder by its path there ("indexed_text/x.js"), with its bytes
// (readFile's, so "" for what is no regular file).
inline std::map<std::string, std::string> filesBelow(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : folderEntries(folder)) {
        struct stat info;
        if (::lstat((folder + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            for (auto& [below, bytes] : filesBelow(folder + "/" + name))
                files[name + "/" + below] = std::move(bytes);
        else
            files[name] = readFile(folder + "/" + name);
    }
    return files;
}

// Keys as the tables of cases list them: joined by single spaces.
inline std::string joined(const std::vector<std::string>& keys)
{
    std::string text;
    for (const std::string& key : keys)
        text += (text.empty() ? "" : " ") + key;
    return text;
}

// A row of a table of cases: its line number and its tab-separated fields.
struct TableRow {
    int line;
    std::vector<std::string> fields;
};

// The rows of the table at path, comments ("#") and blank lines skipped, with the escapes
// of the first field resolved: \t \n \r \\ \xHH (a byte) and \uXXXX (as UTF-8); any other
// character stands for itself.
inline std::vector<TableRow> tableRows(const std::string& path)
{
    std::vector<TableRow> rows;
    std::ifstream table(path, std::ios::binary);
    std::string line;
    for (int number = 1; std::getline(table, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        TableRow row{number, {}};
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');)
            row.fields.push_back(field);
        if (line.back() == '\t')
            row.fields.emplace_back();  // an empty last field
        const std::string text = row.fields[0];
        std::string& input = row.fields[0];
        input.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char kind = text[i] == '\\' && i + 1 < text.size() ? text[i + 1] : 0;
            const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 0;
            if (digits && i + 2 + digits <= text.size()) {
                const unsigned long c = std::stoul(text.substr(i + 2, digits), nullptr, 16);
                if (kind == 'x' || c < 0x80)
                    input += static_cast<char>(c);
                else if (c < 0x800)
                    input += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
                else
                    input += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                              static_cast<char>(0x80 | (c & 0x3F))};
                i += 1 + digits;
            } else if (kind && std::string("tnr\\").find(kind) != std::string::npos) {
                input += kind == 't' ? '\t' : kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\\';
                ++i;
            } else {
                input += text[i];
            }
        }
        rows.push_back(row);
    }
    return rows;
}

// Keeps every line; onLine, when set, sees each one as it comes.
struct RecordingLog : ProgressLog {
    void append(const std::string& text) override
    {
        lines.push_back(text);
        if (onLine)
            onLine(text);
    }
    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine;
};

// A job on a tree of its own: pages go below "site", the index into "out", the lines
// into log.
class SiteJob : public ::testing::Test {
protected:
    SiteJob()
    {
        engine.sourceFolder = tree.folder("site");
        engine.destinationFolder = tree.folder("out");
        engine.progressLog = &log;
    }

    // A whole job's settings for the engine's folders.
    JobSettings settings() const
    {
        JobSettings job;
        job.sourceFolder = engine.sourceFolder;
        job.destinationFolder = engine.destinationFolder;
        return job;
    }
    std::vector<std::string> locations() const
    {
        std::vector<std::string> found;
        for (const DocumentEntry& entry : engine.documents)
            found.push_back(entry.location);
        return found;
    }
    void putOldIndex() const
    {
        tree.write("out/indexed_words.js", "old words");
        tree.write("out/indexed_docs.js", "old docs");
    }
    std::string index() const { return readFile(tree.path("out/indexed_words.js")) + readFile(tree.path("out/indexed_docs.js")); }
    // A whole job through the front ends' entry, its lines into log.
    JobOutcome runJob(const JobSettings& job)
    {
        const std::atomic<bool> stop{false};
        return runIndexJob(job, log, stop);
    }

    TempTree tree;
    IndexEngine engine;
    RecordingLog log;
};
