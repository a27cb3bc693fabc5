// Runs sorvtool as a process for the tests of its commands (SORVTOOL_PATH is set by the build).
#pragma once
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef SORVTOOL_PATH

struct ToolRun {
    int status = -1;
    std::string out, err;
};

inline std::string toolOutput(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs sorvtool with the arguments as given (no shell), stdin from the file `in` when given.
// Output goes through files in `scratch`, so a large stdout or stderr can never block the child.
inline ToolRun sorvtool(const std::vector<std::string>& args, const std::string& scratch,
                        const std::string& in = {}) {
    std::string outPath = scratch + "/tool.out", errPath = scratch + "/tool.err";
    pid_t pid = ::fork();
    if (pid == 0) {
        int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int i = ::open(in.empty() ? "/dev/null" : in.c_str(), O_RDONLY);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::dup2(i, 0);
        std::vector<char*> argv{const_cast<char*>(SORVTOOL_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(SORVTOOL_PATH, argv.data());
        ::_exit(127);
    }
    ToolRun r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = toolOutput(outPath);
    r.err = toolOutput(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return r;
}

// The same in a scratch directory of its own.
inline ToolRun sorvtool(const std::vector<std::string>& args) {
    char dir[] = "/tmp/sorvtool-run-XXXXXX";
    if (!::mkdtemp(dir)) return {};
    ToolRun r = sorvtool(args, dir);
    ::rmdir(dir);
    return r;
}

#endif
