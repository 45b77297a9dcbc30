#include "support/process_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/temporary_directory.h"

extern char** environ;

namespace dormiscope::testing {
ProcessResult RunProcess(const std::vector<std::string>& arguments, const std::filesystem::path& working_directory,
                         const std::vector<std::pair<std::string, std::string>>& environment) {
    const TemporaryDirectory output_dir;
    const std::filesystem::path out_path = output_dir / "stdout";
    const std::filesystem::path err_path = output_dir / "stderr";

    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    for (const auto& [name, value] : environment) {
        variables.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argument_copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : argument_copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + arguments.at(0));
    }
    int status = 0;
    waitpid(child, &status, 0);

    ProcessResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standard_output = ReadFile(out_path);
    result.standard_error = ReadFile(err_path);
    return result;
}

}  // namespace dormiscope::testing
