#include "tests/support/JpipTestServer.h"

#include "tests/support/TestTools.h"
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef ORBEL_SOURCE_DIR
#error ORBEL_SOURCE_DIR must name the source tree
#endif

namespace OrbelTest {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool reap(pid_t pid, std::chrono::milliseconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

JpipTestServer::JpipTestServer(const std::string& root, const std::vector<std::string>& extraArgs)
{
    // Under TMPDIR like every other temporary folder, so a run given a folder of its own
    // can see that nothing stayed behind.
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/jpipserver-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("JpipTestServer: cannot make a temporary folder in " + pattern);
    m_dir = pattern;
    m_logPath = m_dir + "/requests.log";
    const std::string errPath = m_dir + "/stderr.txt";

    std::vector<std::string> args = {OrbelTest::python(), std::string(ORBEL_SOURCE_DIR) + "/tools/jpip_test_server.py",
                                     // No images (a fixture that needs none): its own empty-ish folder.
                                     "serve", "--root", root.empty() ? m_dir : root, "--port", "0",
                                     "--exit-on-stdin-eof",
                                     "--log", m_logPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The folder goes with a server that never started too.
    auto fail = [this](const std::string& what) {
        removeFolder();
        throw std::runtime_error(what);
    };
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        fail("JpipTestServer: pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        fail("JpipTestServer: pipe failed");
    }
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (err >= 0)
            dup2(err, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (err >= 0)
        close(err);
    m_stdin = in[1];
    if (m_pid < 0) {
        close(out[0]);
        close(m_stdin);
        m_stdin = -1;
        fail("JpipTestServer: fork failed");
    }

    // The first stdout line is "LISTENING 127.0.0.1 <port>".
    std::string line;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    const std::string prefix = "LISTENING 127.0.0.1 ";
    if (line.compare(0, prefix.size(), prefix) == 0)
        m_port = std::atoi(line.c_str() + prefix.size());
    if (m_port <= 0) {
        stop();
        fail("JpipTestServer did not start: " + readFile(errPath));
    }
}

JpipTestServer::~JpipTestServer()
{
    stop();
    removeFolder();
}

void JpipTestServer::removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string JpipTestServer::imageTarget(const std::string& name) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/jpip/" + name;
}

std::string JpipTestServer::annotationAddress() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/annotation";
}

std::vector<std::string> JpipTestServer::logLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(m_logPath));
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

void JpipTestServer::stop()
{
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
    if (m_pid > 0) {
        if (!reap(m_pid, std::chrono::seconds(10))) {
            kill(m_pid, SIGKILL);
            reap(m_pid, std::chrono::seconds(10));
        }
        m_pid = -1;
    }
}

} // namespace OrbelTest
