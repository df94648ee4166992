// The tool over URLs, as a user runs it: inputs served by lighttpd and by
// vsftpd on 127.0.0.1 play and seek as they do from disk; a server that
// refuses or drops the connection ends the tool with the error.
#include "support/test_data.h"
#include "support/test_http_server.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using isotest::DataPath;

// Binds (probe) or connects to 127.0.0.1:port; the port bound.
int Loopback(int port, bool probe) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  const auto* at = reinterpret_cast<sockaddr*>(&address);
  const bool done = probe ? ::bind(fd, at, sizeof address) == 0 &&
                                ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
                          : ::connect(fd, at, sizeof address) == 0;
  ::close(fd);
  return done ? ntohs(address.sin_port) : 0;
}

// lighttpd ("http") or vsftpd ("ftp") in the foreground on a free port,
// serving a read-only scratch copy of `files`; stopped by the destructor.
class DebianServer {
 public:
  DebianServer(const std::string& scheme, const std::vector<std::string>& files)
      : m_scheme(scheme), m_root(::testing::TempDir() + "isodmx_" + scheme + std::to_string(getpid())) {
    const std::string binary = scheme == "http" ? "/usr/sbin/lighttpd" : "/usr/sbin/vsftpd";
    if (::access(binary.c_str(), X_OK) != 0) return;
    fs::create_directories(m_root + "/p");
    for (const std::string& name : files) fs::copy_file(DataPath(name), m_root + "/p/" + name);
    // vsftpd refuses a writable anonymous root.
    fs::permissions(m_root, fs::perms::owner_write, fs::perm_options::remove);
    Start(binary, Loopback(0, true));
  }
  ~DebianServer() {
    if (m_pid > 0) ::kill(m_pid, SIGTERM), ::waitpid(m_pid, nullptr, 0);
    fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(m_root);
    fs::remove(m_root + ".conf");
  }

  bool Running() const { return m_pid > 0; }
  std::string Url(const std::string& name) const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + "/p/" + name;
  }

 private:
  void Start(const std::string& binary, int port) {
    const std::string config = m_root + ".conf", p = std::to_string(port);
    if (m_scheme == "http") {
      std::ofstream(config) << "server.document-root = \"" << m_root << "\"\nserver.bind = \"127.0.0.1\"\n"
                            << "server.port = " << p << "\nserver.errorlog = \"/dev/null\"\n";
    } else {
      std::ofstream(config) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << p
                            << "\nanonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nanon_root=" << m_root
                            << "\nsecure_chroot_dir=" << m_root << "\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
                            << "background=NO\nxferlog_enable=NO\npasv_address=127.0.0.1\n";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (m_scheme == "http") ::execl(binary.c_str(), binary.c_str(), "-D", "-f", config.c_str(), nullptr);
      ::execl(binary.c_str(), binary.c_str(), config.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; pid > 0 && i < 250; ++i) {
      if (Loopback(port, false) == port) {
        m_pid = pid;
        m_port = port;
        return;
      }
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid > 0) ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0);
  }

  const std::string m_scheme;
  const std::string m_root;
  pid_t m_pid = -1;
  int m_port = 0;
};

const std::vector<std::string> kServed = {"smooth.ismv", "smooth_manifest.ism", "smooth_variants.ism",
                                          "h264_faststart.mp4"};

// What dump delivers: each pin's name and rows, one string per pin.
std::vector<std::string> Delivered(const std::string& arguments) {
  const JsonValue document = RunJson("dump --json " + arguments);
  std::vector<std::string> pins;
  for (const JsonValue& pin : document["pins"].Array()) {
    std::string text = pin["name"].String();
    for (const JsonValue& row : pin["delivered"].Array()) {
      for (const JsonValue& field : row.Array()) text += field.IsNull() ? " -" : " " + std::to_string(field.Int());
    }
    pins.push_back(text);
  }
  return pins;
}

TEST(UrlInputsTest, ServedInputsDeliverWhatTheyDeliverFromDisk) {
  DebianServer http("http", kServed), ftp("ftp", kServed);
  if (!http.Running()) GTEST_SKIP() << "lighttpd is not installed (scripts/bootstrap)";
  EXPECT_TRUE(ftp.Running());
  for (const std::string& name : kServed) {
    for (const char* options : {"", "--start 1 "}) {
      SCOPED_TRACE(name + " " + options);
      const std::vector<std::string> local = Delivered(options + DataPath(name));
      EXPECT_EQ(local.size(), 2u);
      // The scheme in capitals is a URL too.
      EXPECT_EQ(Delivered(options + ("HTTP" + http.Url(name).substr(4))), local);
      if (ftp.Running()) {
        EXPECT_EQ(Delivered(options + ftp.Url(name)), local);
      }
    }
  }
}

TEST(UrlInputsTest, MissingAndDroppedMediaEndTheToolWithTheirError) {
  TestHttpServer server({{"/a.ismv", ReadTextFile(DataPath("smooth.ismv")).value_or("")}});
  server.dropAt = 20000;
  for (const auto& [input, result] :
       {std::pair{server.Url("/missing.mp4"), "0x800C0005"}, std::pair{server.Url("/a.ismv"), "0x80072EFF"}}) {
    const ToolRun run = RunTool("play " + input, " 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(result), std::string::npos) << run.out;
  }
}

}  // namespace
