// The tool over URLs, as a user runs it: a manifest and plain files served
// by lighttpd and by vsftpd on 127.0.0.1 play, seek and report as they do
// from disk; a server that refuses or drops the connection ends the tool
// with an error.
#include "support/json_value.h"
#include "support/test_http_server.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct ServerKind {
  const char* binary;
  const char* scheme;
  // The configuration for serving ROOT on 127.0.0.1:PORT.
  std::string (*config)(const std::string& root, int port);
};

std::string LighttpdConfig(const std::string& root, int port) {
  return "server.document-root = \"" + root + "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " +
         std::to_string(port) + "\nserver.errorlog = \"/dev/null\"\n" +
         "mimetype.assign = (\"\" => \"application/octet-stream\")\n";
}

// Anonymous and read-only; passive ports are any the system gives.
std::string VsftpdConfig(const std::string& root, int port) {
  return "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port) +
         "\nanonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=NO\nanon_root=" + root +
         "\nsecure_chroot_dir=" + root + "\nrun_as_launching_user=YES\nseccomp_sandbox=NO\nbackground=NO\n"
         "xferlog_enable=NO\npasv_address=127.0.0.1\n";
}

constexpr ServerKind kLighttpd = {"/usr/sbin/lighttpd", "http", &LighttpdConfig};
constexpr ServerKind kVsftpd = {"/usr/sbin/vsftpd", "ftp", &VsftpdConfig};

std::string DataPath(const std::string& name) { return std::string(ISODMX_TEST_DATA) + "/" + name; }

int FreePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(probe);
  return port;
}

bool Accepts(int port) {
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(client);
  return connected;
}

// A server from Debian in the foreground on a free loopback port, serving
// a scratch copy of some fixtures (read-only, as vsftpd insists); stopped
// and reaped by the destructor.
class DebianServer {
 public:
  DebianServer(const ServerKind& kind, const std::vector<std::string>& files)
      : m_kind(kind),
        m_root(::testing::TempDir() + "isodmx_" + kind.scheme + "_" + std::to_string(getpid())) {
    if (::access(kind.binary, X_OK) != 0) return;
    std::filesystem::create_directories(m_root + "/p");
    for (const std::string& name : files) {
      std::filesystem::copy_file(DataPath(name), m_root + "/p/" + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::permissions(m_root, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                             std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    // A port taken between the probe and the bind fails the start: try again.
    for (int attempt = 0; attempt < 3 && m_pid <= 0; ++attempt) Start(FreePort());
  }
  ~DebianServer() {
    Stop();
    std::filesystem::permissions(m_root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    std::filesystem::remove_all(m_root);
    std::filesystem::remove(m_root + ".conf");
  }

  bool Installed() const { return ::access(m_kind.binary, X_OK) == 0; }
  bool Running() const { return m_pid > 0; }
  std::string Url(const std::string& name) const {
    return std::string(m_kind.scheme) + "://127.0.0.1:" + std::to_string(m_port) + "/p/" + name;
  }

 private:
  void Start(int port) {
    const std::string config = m_root + ".conf";
    std::ofstream(config) << m_kind.config(m_root, port);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (std::string(m_kind.scheme) == "http") {
        ::execl(m_kind.binary, m_kind.binary, "-D", "-f", config.c_str(), static_cast<char*>(nullptr));
      } else {
        ::execl(m_kind.binary, m_kind.binary, config.c_str(), static_cast<char*>(nullptr));
      }
      ::_exit(127);
    }
    if (pid < 0) return;
    m_pid = pid;
    m_port = port;
    for (int i = 0; i < 250; ++i) {
      if (Accepts(port)) return;
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        m_pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
  }
  void Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

  const ServerKind& m_kind;
  std::string m_root;
  pid_t m_pid = -1;
  int m_port = 0;
};

// Every delivered row of every pin, one string each.
std::vector<std::string> DeliveredRows(const std::string& arguments) {
  const ToolRun run = RunTool("dump --json " + arguments, " 2>/dev/null");
  EXPECT_EQ(run.status, 0) << arguments;
  const auto document = JsonValue::Parse(run.out);
  if (!document) {
    ADD_FAILURE() << arguments << "\n" << run.out;
    return {};
  }
  std::vector<std::string> rows;
  for (const JsonValue& pin : (*document)["pins"].Array()) {
    rows.push_back("pin " + pin["name"].String());
    for (const JsonValue& row : pin["delivered"].Array()) {
      std::string text;
      for (const JsonValue& field : row.Array()) text += (field.IsNull() ? "null" : std::to_string(field.Int())) + " ";
      rows.push_back(text);
    }
  }
  return rows;
}

const std::vector<std::string> kServed = {"smooth.ismv", "smooth_manifest.ism", "smooth_variants.ism",
                                          "h264_faststart.mp4"};

class UrlInputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_server.Installed()) GTEST_SKIP() << "lighttpd is not installed (scripts/bootstrap)";
    ASSERT_TRUE(m_server.Running());
  }

  DebianServer m_server{kLighttpd, kServed};
};

TEST_F(UrlInputsTest, ServedInputsDeliverWhatTheSameInputsDeliverFromDisk) {
  DebianServer ftp(kVsftpd, kServed);
  EXPECT_TRUE(!ftp.Installed() || ftp.Running());
  for (const std::string& name : kServed) {
    for (const char* options : {"", "--start 1 "}) {
      SCOPED_TRACE(name + " " + options);
      const std::vector<std::string> local = DeliveredRows(options + DataPath(name));
      EXPECT_GT(local.size(), 2u);
      EXPECT_EQ(DeliveredRows(options + m_server.Url(name)), local);
      if (ftp.Running()) EXPECT_EQ(DeliveredRows(options + ftp.Url(name)), local);
    }
  }
}

TEST_F(UrlInputsTest, InfoListsEachManifestSourceWithItsTrack) {
  // The scheme in capitals is a URL too.
  const std::string url = "HTTP" + m_server.Url("smooth_manifest.ism").substr(4);
  const ToolRun run = RunTool("info --json " + url, " 2>/dev/null");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document);
  const JsonValue& sources = (*document)["sources"];
  ASSERT_EQ(sources.Size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(sources[i]["location"].String(), m_server.Url("smooth.ismv"));
    EXPECT_EQ(sources[i]["wantedTrackId"].Int(), static_cast<int64_t>(i + 1));
  }
  EXPECT_EQ((*document)["pins"].Size(), 2u);
}

TEST_F(UrlInputsTest, RefusedAndDroppedTransfersEndTheToolWithTheirError) {
  TestHttpServer dropping({{"/a.ismv", ReadWholeFile(DataPath("smooth.ismv"))}});
  dropping.DropAt(20000);
  const struct {
    std::string input;
    const char* result;
  } cases[] = {
      {m_server.Url("missing.mp4"), "0x800C0005"},
      {dropping.Url("/a.ismv"), "0x80072EFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const ToolRun run = RunTool("play " + c.input, " 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(c.result), std::string::npos) << run.out;
  }
}

}  // namespace
