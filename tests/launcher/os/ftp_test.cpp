#include "launcher/os/ftp.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/launcher/launcher_test.h"

extern char** environ;

namespace {

using testutil::readFile;
using testutil::writeFile;

const char kPython[] = "/usr/bin/python3";

// A pyftpdlib server on 127.0.0.1 with anonymous write access to a folder of the test.
const char kServer[] = R"(import os, sys, logging
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, portfile = sys.argv[1], sys.argv[2]
logging.basicConfig(level=logging.WARNING)
auth = DummyAuthorizer()
auth.add_anonymous(root, perm='elradfmw')
FTPHandler.authorizer = auth
server = FTPServer(('127.0.0.1', 0), FTPHandler)
with open(portfile + '.tmp', 'w') as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(portfile + '.tmp', portfile)
server.serve_forever()
)";

class FtpTest : public LauncherTest {
protected:
    void TearDown() override {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
        LauncherTest::TearDown();
    }
    // Starts the server with its root in root/; the port, or 0 after a skip or failure.
    int startServer() {
        if (testutil::runShell(std::string(kPython) + " -c 'import pyftpdlib' 2>/dev/null").status != 0) return 0;
        mkdir(tmp.file("root").c_str(), 0777);
        writeFile(tmp.file("server.py"), kServer);
        std::string portFile = tmp.file("port"), log = tmp.file("server.log");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        std::string script = tmp.file("server.py"), root = tmp.file("root");
        char* argv[] = {const_cast<char*>(kPython), &script[0], &root[0], &portFile[0], nullptr};
        int rc = posix_spawn(&server_, kPython, &fa, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) return 0;
        for (int i = 0; i < 200 && !testutil::pathExists(portFile); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return testutil::pathExists(portFile) ? std::stoi(readFile(portFile)) : 0;
    }
    pid_t server_ = -1;
};

// A port on 127.0.0.1 that nothing listens on.
int closedPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    return ntohs(addr.sin_port);
}

TEST(CurlLibrary, LoadsTheVersionedNameWhenTheBareOneIsMissing) {
    char err[512] = "";
    void* lib = loadCurlLibrary(err, sizeof(err));
    ASSERT_NE(lib, nullptr) << err;
    EXPECT_NE(dlsym(lib, "curl_easy_perform"), nullptr);
    dlclose(lib);
    if (void* bare = dlopen("libcurl.so", RTLD_LAZY))
        dlclose(bare);  // development files installed: the fallback was not needed here
    else
        SUCCEED() << "only libcurl.so.4 is installed: loaded through the fallback";
}

TEST_F(FtpTest, UploadsIntoTheSupportFolder) {
    int port = startServer();
    if (port == 0) GTEST_SKIP() << "no FTP server: /usr/bin/python3 with pyftpdlib (python3-pyftpdlib) needed";
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 31);
    mkdir(tmp.file("out").c_str(), 0755);
    writeFile(tmp.file("out/report.bin"), bytes);

    // Without the folder on the server the upload is refused there.
    std::string err =
        stderrOf([&] { EXPECT_EQ(ftpFileTo(tmp.file("out/report.bin").c_str(), "127.0.0.1", port), -1); });
    EXPECT_EQ(err.rfind("FTP: Error performing upload command: ", 0), 0u) << err;

    ASSERT_EQ(testutil::runShell("mkdir -p " + tmp.file(std::string("root/") + c_ftpUploadDir)).status, 0);
    err = stderrOf([&] { EXPECT_EQ(ftpFileTo(tmp.file("out/report.bin").c_str(), "127.0.0.1", port), 0); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(readFile(tmp.file(std::string("root/") + c_ftpUploadDir + "report.bin")), bytes);
}

TEST_F(FtpTest, ReportsWhatFailed) {
    writeFile(tmp.file("report.txt"), "x");
    int port = closedPort();
    std::string err = stderrOf([&] { EXPECT_EQ(ftpFileTo(tmp.file("report.txt").c_str(), "127.0.0.1", port), -1); });
    EXPECT_EQ(err, "FTP: Error connecting to ZAV Service");
    err = stderrOf([&] { EXPECT_EQ(ftpFileTo(tmp.file("missing.txt").c_str(), "127.0.0.1", port), -1); });
    EXPECT_EQ(err, "FTP: Error getting file size\n");
}

}  // namespace
