// The ecusim program itself: serving, `-- COMMAND`, and its exit codes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "command.h"

namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

// ecusim with pipes for its stdin, stdout and stderr.
class Process {
public:
    explicit Process(const Args& args) {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
        std::vector<std::string> words = {ECUSIM_PATH};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
            execv(argv[0], argv.data());
            _exit(99);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Process() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        for (int fd : {stdin_, stdout_, stderr_})
            if (fd >= 0) close(fd);
    }
    pid_t pid() const { return pid_; }
    void Write(const std::string& text) {
        ASSERT_EQ(write(stdin_, text.data(), text.size()), ssize_t(text.size()));
    }
    // One line of stdout, without its line break ("" at the deadline).
    std::string ReadLine(std::chrono::milliseconds deadline = 5000ms) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (out_.find('\n') == std::string::npos && Pump(until)) {
        }
        std::size_t nl = out_.find('\n');
        if (nl == std::string::npos) return "";
        std::string line = out_.substr(0, nl);
        out_.erase(0, nl + 1);
        return line;
    }
    // Waits for the exit and collects the rest of the output; the shell's
    // idea of the status (128+N for signal N), or -1 at the deadline.
    int Wait(std::chrono::milliseconds deadline = 10000ms) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (Pump(until)) {
        }
        while (status_ < 0 && std::chrono::steady_clock::now() < until) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            poll(nullptr, 0, 5);
        }
        return status_;
    }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    // Reads what is there; false once both outputs ended or at the deadline.
    bool Pump(std::chrono::steady_clock::time_point until) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (stdout_ < 0 && stderr_ < 0)) return false;
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
        int* fd[2] = {&stdout_, &stderr_};
        std::string* text[2] = {&out_, &err_};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = read(*fd[i], buffer, sizeof buffer);
            if (n > 0) {
                text[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(*fd[i]);
                *fd[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    int status_ = -1;
    std::string out_, err_;
};

TEST(Command, PortIsSubstitutedWhereverItStands) {
    EXPECT_EQ(ecusim::SubstitutePort({"prog", "{port}", "--port={port}", "{port}{port}", "port"}, "/dev/pts/7"),
              (Args{"prog", "/dev/pts/7", "--port=/dev/pts/7", "/dev/pts/7/dev/pts/7", "port"}));

    Process p({"--scenario", "idle", "--", "sh", "-c", "echo \"$1|$2|$ECUSIM_PORT\"", "sh", "{port}", "x{port}y"});
    ASSERT_EQ(p.Wait(), 0) << p.err();
    const std::string line = p.out().substr(0, p.out().find('\n'));
    const std::string port = line.substr(0, line.find('|'));
    EXPECT_EQ(port.rfind("/dev/pts/", 0), 0u) << line;
    EXPECT_EQ(line, port + "|x" + port + "y|" + port);
    // Nothing of the simulator's own on the command's terminal.
    EXPECT_EQ(p.out(), line + "\n");
    EXPECT_EQ(p.err(), "");
}

TEST(Command, TheCommandTalksToTheSimulatorOnItsPort) {
    Process p({"--scenario", "off", "--set", "10=0xC8", "--", "sh", "-c",
               "exec 3<>\"$1\"; stty raw -echo <&3; printf '\\012' >&3; od -An -tx1 -N2 <&3", "sh", "{port}"});
    ASSERT_EQ(p.Wait(), 0) << p.err();
    EXPECT_NE(p.out().find("0a c8"), std::string::npos) << p.out();
}

TEST(Command, ExitCodeIsTheCommands) {
    const struct {
        Args command;
        int code;
    } kCases[] = {
        {{"true"}, 0},
        {{"false"}, 1},
        {{"sh", "-c", "exit 42"}, 42},
        {{"sh", "-c", "kill -TERM $$"}, 128 + SIGTERM},
        {{"sh", "-c", "kill -KILL $$"}, 128 + SIGKILL},
        {{"/nonexistent/program"}, 127},
    };
    for (const auto& c : kCases) {
        Args args = {"--"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        Process p(args);
        EXPECT_EQ(p.Wait(), c.code) << ::testing::PrintToString(c.command) << " " << p.err();
    }
}

// Ctrl-C is the command's to handle: the simulator stays and serves on.
TEST(Command, InterruptReachesOnlyTheCommand) {
    Process p({"--", "sh", "-c", "echo ready; read line; exit 5"});
    ASSERT_EQ(p.ReadLine(), "ready");
    kill(p.pid(), SIGINT);
    kill(p.pid(), SIGQUIT);
    p.Write("go\n");
    EXPECT_EQ(p.Wait(), 5) << p.err();
}

TEST(Command, TerminateIsPassedOnToTheCommand) {
    Process p({"--", "sh", "-c", "echo ready; exec sleep 30"});
    ASSERT_EQ(p.ReadLine(), "ready");
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.Wait(), 128 + SIGTERM) << p.err();
}

TEST(Command, ServingPrintsThePortAndStopsCleanly) {
    for (int sig : {SIGINT, SIGTERM}) {
        Process p({"--scenario", "off"});
        const std::string port = p.ReadLine();
        EXPECT_EQ(port.rfind("/dev/pts/", 0), 0u) << port;
        EXPECT_EQ(access(port.c_str(), R_OK | W_OK), 0) << port;
        kill(p.pid(), sig);
        EXPECT_EQ(p.Wait(), 0) << p.err();
        EXPECT_NE(p.err().find(port), std::string::npos) << p.err();
    }
}

TEST(Command, BadOptionsExitWithTwoAndAClearMessage) {
    char notes[] = "/tmp/ecusim-notes-XXXXXX";  // a user's file given to --link by mistake: kept
    close(mkstemp(notes));
    const struct {
        Args args;
        const char* mentions;
    } kCases[] = {
        {{"--scenario", "nope"}, "unknown scenario 'nope'"},
        {{"--set", "1=300"}, "bad --set '1=300'"},
        {{"--device", "/dev/nonexistent"}, "cannot open device '/dev/nonexistent'"},
        {{"--device", "/dev/null"}, "not a serial device"},
        {{"--frobnicate"}, "unknown option"},
        {{"--"}, "must be followed by a command"},
        {{"--scenario", "nope", "--", "true"}, "unknown scenario"},
        {{"--link", notes}, "is not a symbolic link"},
    };
    for (const auto& c : kCases) {
        Process p(c.args);
        EXPECT_EQ(p.Wait(), 2) << ::testing::PrintToString(c.args);
        EXPECT_EQ(p.err().rfind("ecusim: ", 0), 0u) << p.err();
        EXPECT_NE(p.err().find(c.mentions), std::string::npos) << p.err();
        EXPECT_EQ(p.out(), "") << "nothing on stdout";
    }
    EXPECT_EQ(unlink(notes), 0) << "--link removed a file";
}

}  // namespace
