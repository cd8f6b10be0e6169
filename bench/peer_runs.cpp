#include "bench/peer_runs.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace vracoins_bench {

namespace {

std::string VariableName(const std::string& assignment) {
    return assignment.substr(0, assignment.find('='));
}

// This process's environment with the configuration's variables in place of any of the same name.
std::vector<std::string> PeerEnvironment(const PeerConfiguration& configuration) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string assignment(*variable);
        bool replaced = false;
        for (const std::string& own : configuration.environment) {
            replaced = replaced || VariableName(own) == VariableName(assignment);
        }
        if (!replaced) {
            environment.push_back(assignment);
        }
    }
    environment.insert(environment.end(), configuration.environment.begin(), configuration.environment.end());
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

bool RunPeer(const PeerConfiguration& configuration, const std::vector<std::string>& benchmarkArguments,
             Timings* timings, std::string* problem) {
    std::vector<std::string> arguments = {VRACOINS_PEER_BENCH_PATH};
    if (!configuration.requiredSymbol.empty()) {
        arguments.push_back("--require-symbol=" + configuration.requiredSymbol);
    }
    arguments.insert(arguments.end(), benchmarkArguments.begin(), benchmarkArguments.end());
    std::vector<std::string> environment = PeerEnvironment(configuration);
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);

    int output[2];
    if (pipe(output) != 0) {
        *problem = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    posix_spawn_file_actions_addclose(&actions, output[1]);
    pid_t child = 0;
    int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        *problem = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
        return false;
    }
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(output[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    close(output[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    std::vector<std::string> errors;
    Timings peerTimings = ParseResultLines(text, &errors);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !errors.empty() || peerTimings.empty()) {
        *problem = configuration.name + ": the peer run failed";
        for (const std::string& error : errors) {
            *problem += "; " + error;
        }
        return false;
    }
    const std::string peerPrefix = "peer/";
    for (const auto& timing : peerTimings) {
        std::string name = timing.first.compare(0, peerPrefix.size(), peerPrefix) == 0
                               ? configuration.name + "/" + timing.first.substr(peerPrefix.size())
                               : configuration.name + "/" + timing.first;
        (*timings)[name] = timing.second;
    }
    return true;
}

} // namespace vracoins_bench
