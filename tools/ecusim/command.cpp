#include "command.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace ecusim {
namespace {

volatile pid_t child_pid = -1;

void PassOn(int sig) {
    pid_t pid = child_pid;
    if (pid > 0) kill(pid, sig);
}

}  // namespace

std::vector<std::string> SubstitutePort(const std::vector<std::string>& command,
                                        const std::string& port) {
    static const std::string kPlaceholder = "{port}";
    std::vector<std::string> out;
    out.reserve(command.size());
    for (std::string arg : command) {
        for (std::size_t at = arg.find(kPlaceholder); at != std::string::npos;
             at = arg.find(kPlaceholder, at + port.size()))
            arg.replace(at, kPlaceholder.size(), port);
        out.push_back(std::move(arg));
    }
    return out;
}

int RunCommand(Simulator& sim, const std::vector<std::string>& command) {
    std::vector<std::string> args = SubstitutePort(command, sim.port());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("ECUSIM_PORT", sim.port().c_str(), 1);

    struct sigaction ignore {}, pass_on {}, old_int {}, old_quit {}, old_term {}, old_hup {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    pass_on.sa_handler = PassOn;
    sigemptyset(&pass_on.sa_mask);
    pass_on.sa_flags = SA_RESTART;
    // Ignored before the fork so that no Ctrl-C can fall between the two.
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);
    // A SIGTERM or SIGHUP sent as soon as the command shows signs of life
    // may come before the fork has returned here: held until child_pid is
    // known, then passed on.
    sigset_t pass, before;
    sigemptyset(&pass);
    sigaddset(&pass, SIGTERM);
    sigaddset(&pass, SIGHUP);
    sigprocmask(SIG_BLOCK, &pass, &before);
    sigaction(SIGTERM, &pass_on, &old_term);
    sigaction(SIGHUP, &pass_on, &old_hup);

    // A monitor that is killed cannot give the terminal back; this does.
    termios terminal{};
    const bool have_terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminal) == 0;

    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "ecusim: cannot start '%s': %s\n", args[0].c_str(), std::strerror(errno));
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
        sigaction(SIGTERM, &old_term, nullptr);
        sigaction(SIGHUP, &old_hup, nullptr);
        sigprocmask(SIG_SETMASK, &before, nullptr);
        return 127;
    }
    if (pid == 0) {
        // Still single-threaded here: the server starts after the fork.
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(argv[0], argv.data());
        int err = errno;
        std::fprintf(stderr, "ecusim: cannot run '%s': %s\n", argv[0], std::strerror(err));
        _exit(err == ENOENT ? 127 : 126);
    }
    child_pid = pid;
    sigprocmask(SIG_SETMASK, &before, nullptr);

    std::thread server([&sim] { sim.Serve(); });
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    child_pid = -1;
    if (done == pid && WIFSIGNALED(status) && have_terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal);
        if (isatty(STDOUT_FILENO)) {
            // Colours off, the cursor shown, the prompt below everything drawn.
            std::fputs("\033[0m\033[?25h\033[999;1H\n", stdout);
            std::fflush(stdout);
        }
    }
    sim.Stop();
    server.join();
    // Held back while the command had the terminal.
    if (sim.replay_end_note_held() && !sim.replay_end_note().empty())
        std::fprintf(stderr, "%s\n", sim.replay_end_note().c_str());

    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    if (done < 0) return 1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace ecusim
