#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>
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

    // Writes a file (making its folders), optionally with a modification time.
    std::string write(const std::string& relative, const std::string& content, long mtime = -1) const
    {
        std::string full = path(relative);
        makeFolders(full.substr(0, full.rfind('/')));
        std::ofstream(full, std::ios::binary) << content;
        if (mtime >= 0) {
            timeval times[2] = {{mtime, 0}, {mtime, 0}};
            ::utimes(full.c_str(), times);
        }
        return full;
    }

    std::string folder(const std::string& relative) const
    {
        makeFolders(path(relative));
        return path(relative);
    }

private:
    static void makeFolders(const std::string& folder)
    {
        for (std::size_t at = 1; at <= folder.size(); ++at)
            if (at == folder.size() || folder[at] == '/')
                ::mkdir(folder.substr(0, at).c_str(), 0777);
    }

    std::string m_root;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Runs a shell command; returns its exit status and what it printed on stdout.
inline std::pair<int, std::string> runCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

inline std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
