// Runs sorvtool as a process for the tests of its commands (SORVTOOL_PATH is set by the build).
#pragma once
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef SORVTOOL_PATH
namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// Runs sorvtool with the arguments as given (no shell), capturing stdout and stderr.
ToolRun sorvtool(std::vector<std::string> args) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        std::vector<char*> argv;
        std::string tool = SORVTOOL_PATH;
        argv.push_back(tool.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    ToolRun r;
    auto drain = [](int fd, std::string& to) {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) to.append(buf, static_cast<std::size_t>(n));
        close(fd);
    };
    drain(outPipe[0], r.out);
    drain(errPipe[0], r.err);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace
#endif
