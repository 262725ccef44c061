#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/test_env.h"

extern char** environ;

namespace nvtest {

namespace {
std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
}  // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const std::string& input, const std::vector<std::string>& environment) {
    TempDir dir;
    std::string path = tool.front() == '/' ? tool : BuildDir() + "/bin/" + tool;
    std::vector<std::string> copies(args);
    std::vector<char*> argv{path.data()};
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envCopies(environment);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : environment) {
            replaced = replaced || added.compare(0, name.size(), name) == 0;
        }
        if (!replaced) {
            envp.push_back(*e);
        }
    }
    for (std::string& entry : envCopies) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string inputPath = "/dev/null";
    if (!input.empty()) {
        inputPath = dir.file("in");
        std::ofstream(inputPath, std::ios::binary) << input;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ToolResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadAll(dir.file("out"));
    result.err = ReadAll(dir.file("err"));
    return result;
}

}  // namespace nvtest
