// Books whose markup reaches for what a document must not: files of the
// system, files beside the working folder, the network, and scripts. Each
// converts, and none of those reaches the PDF or leaves the machine.
#include "convert_book.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "mobi_writer.h"
#include "pdf_tools.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const fs::path kImages = BOOKCONV_TEST_DATA_DIR "/images";
constexpr char kVisible[] = "Plain words of the book";

// A working folder with a secret text and a secret picture beside it.
class HostileContentTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(scratch.Path() / "work");
    fs::create_directories(scratch.Path() / "outside");
    std::ofstream(scratch.Path() / "outside" / "secret.txt") << "OUTSIDE-SECRET-MARKER\n";
    fs::copy_file(kImages / "photo.jpg", scratch.Path() / "outside" / "secret.jpg");
  }

  // Converts a book whose text is `markup` around a visible paragraph; the
  // PDF's text, after checking that the conversion succeeded.
  std::string Convert(const std::string &markup) {
    testbook::BookSpec spec;
    spec.textRecords = testbook::SplitText("<html><body><p>" + std::string(kVisible) + "</p>" +
                                           markup + "</body></html>");
    testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook(spec));
    CaptureStdout();
    CaptureStderr();
    const int result = ConvertBook(scratch.File("book.mobi").c_str(), Pdf().c_str(),
                                   (scratch.Path() / "work/").c_str());
    GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(result, kConverted) << err;
    const std::string text = testbook::PdfText(Pdf());
    EXPECT_NE(text.find(kVisible), std::string::npos) << "the book itself is rendered";
    return text;
  }
  std::string Pdf() const { return scratch.File("book.pdf"); }

  testbook::ScratchFolder scratch;
};

TEST_F(HostileContentTest, SystemFilesStayOut) {
  const std::string text = Convert("<iframe src=\"file:///etc/passwd\"></iframe>"
                                   "<object data=\"file:///etc/passwd\"></object>"
                                   "<embed src=\"file:///etc/passwd\">"
                                   "<img src=\"file:///etc/passwd\">"
                                   "<link rel=\"stylesheet\" href=\"file:///etc/passwd\">");
  EXPECT_EQ(text.find("root:"), std::string::npos);
}

TEST_F(HostileContentTest, FilesBesideTheWorkingFolderStayOut) {
  const std::string outside = (scratch.Path() / "outside").string();
  const std::string text = Convert("<iframe src=\"../outside/secret.txt\"></iframe>"
                                   "<object data=\"../outside/secret.txt\"></object>"
                                   "<iframe src=\"file://" + outside + "/secret.txt\"></iframe>");
  EXPECT_EQ(text.find("OUTSIDE-SECRET-MARKER"), std::string::npos);
  // A picture that does not load is drawn as a small placeholder; the secret
  // picture (48 by 64) never is.
  Convert("<img src=\"../outside/secret.jpg\"><img src=\"" + outside + "/secret.jpg\">");
  for (const testbook::PdfImage &image : testbook::PdfImages(Pdf()))
    EXPECT_FALSE(image.width == 48 && image.height == 64) << "the secret picture was drawn";
}

// A listening socket on every address of the machine.
class Listener {
public:
  Listener() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(socket_, 16) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (socket_ >= 0)
      close(socket_);
  }
  int Port() const { return port_; }
  // Whether anything has tried to connect.
  bool Called() const {
    pollfd waiting{socket_, POLLIN, 0};
    return poll(&waiting, 1, 0) > 0;
  }

private:
  int socket_;
  int port_ = 0;
};

// An address of this machine other than the loopback one, as a remote
// address looks to the renderer; the loopback one when there is none.
std::string MachineAddress() {
  std::string found = "127.0.0.1";
  ifaddrs *all = nullptr;
  if (getifaddrs(&all) != 0)
    return found;
  for (ifaddrs *entry = all; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
      continue;
    char text[INET_ADDRSTRLEN];
    const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr &&
        std::string(text) != "127.0.0.1")
      found = text;
  }
  freeifaddrs(all);
  return found;
}

TEST_F(HostileContentTest, NothingIsFetchedFromTheNetwork) {
  Listener listener;
  ASSERT_NE(listener.Port(), 0);
  const std::string port = std::to_string(listener.Port());
  std::string markup;
  for (const std::string &host : {MachineAddress(), std::string("127.0.0.1")})
    markup += "<img src=\"http://" + host + ":" + port + "/picture.jpg\">"
              "<iframe src=\"http://" + host + ":" + port + "/page.html\"></iframe>"
              "<link rel=\"stylesheet\" href=\"http://" + host + ":" + port + "/style.css\">";
  Convert(markup);
  EXPECT_FALSE(listener.Called()) << "the renderer connected to " << MachineAddress() << ":"
                                  << port;
}

TEST_F(HostileContentTest, ScriptsDoNotRun) {
  const std::string text = Convert(
      "<script>document.write('SCRIPT-RAN-MARKER');</script>"
      "<p id=x>still</p><script>document.getElementById('x').textContent='SCRIPT-RAN-AGAIN';"
      "</script><img src=\"none.jpg\" onerror=\"document.body.innerHTML='SCRIPT-ONERROR'\">");
  EXPECT_EQ(text.find("SCRIPT-RAN"), std::string::npos);
  EXPECT_EQ(text.find("SCRIPT-ONERROR"), std::string::npos);
  EXPECT_NE(text.find("still"), std::string::npos);
}

} // namespace
