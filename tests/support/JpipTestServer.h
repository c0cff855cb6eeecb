// Runs the loopback JPIP test server (tools/jpip_test_server.py) for a test: started on
// a free port of 127.0.0.1, stopped by closing its stdin, killed by pid if it lingers.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace OrbelTest {

class JpipTestServer {
public:
    // root: the folder whose files are served; extraArgs: more `serve` options (faults,
    // annotation folders, ...). Throws std::runtime_error, with the server's stderr, when
    // the server does not report its port within 10 s.
    explicit JpipTestServer(const std::string& root, const std::vector<std::string>& extraArgs = {});
    ~JpipTestServer();
    JpipTestServer(const JpipTestServer&) = delete;
    JpipTestServer& operator=(const JpipTestServer&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // The base the viewer appends "_1.jp2" and the query to: http://127.0.0.1:<port>/jpip/<name>
    std::string imageTarget(const std::string& name) const;
    // http://127.0.0.1:<port>/annotation
    std::string annotationAddress() const;
    // The request records written so far, one JSON object per line.
    std::vector<std::string> logLines() const;
    // Closes the server's stdin and waits for it; kills it after the deadline. Idempotent.
    void stop();

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
    void removeFolder();
    std::string m_dir; // its log and stderr; removed with the server
    std::string m_logPath;
};

} // namespace OrbelTest
