#include "pdf_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace testbook {

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

} // namespace

// Standard error goes to a file rather than a second pipe, so neither stream
// can fill up while the other is read.
int StartQuietly(const std::vector<std::string> &arguments) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? child : -1;
}

ProgramResult RunProgram(const std::vector<std::string> &arguments) {
  ProgramResult result;
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  char errName[] = "/tmp/bookconv-test-err-XXXXXX";
  const int errFile = mkstemp(errName);
  int ends[2];
  if (errFile < 0 || pipe(ends) != 0)
    return result;
  unlink(errName);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFile, STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (failed == 0) {
    result.out = ReadAll(ends[0]);
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status))
      result.status = WEXITSTATUS(status);
    lseek(errFile, 0, SEEK_SET);
    result.err = ReadAll(errFile);
  }
  close(ends[0]);
  close(errFile);
  return result;
}

std::string PdfText(const std::string &path) {
  return RunProgram({"pdftotext", "-enc", "UTF-8", path, "-"}).out;
}

std::vector<PdfImage> PdfImages(const std::string &path) {
  std::vector<PdfImage> images;
  std::istringstream lines(RunProgram({"pdfimages", "-list", path}).out);
  std::string line;
  // Two heading lines, then: page num type width height ...
  for (int heading = 0; heading < 2 && std::getline(lines, line); ++heading) {
  }
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string page, number;
    PdfImage image;
    if (fields >> page >> number >> image.type >> image.width >> image.height)
      images.push_back(image);
  }
  return images;
}

std::size_t PdfPictureCount(const std::string &path) {
  const auto images = PdfImages(path);
  return static_cast<std::size_t>(std::count_if(
      images.begin(), images.end(), [](const PdfImage &image) { return image.type == "image"; }));
}

bool IsPdf(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  char head[5] = {};
  return file.read(head, sizeof head) && std::memcmp(head, "%PDF-", sizeof head) == 0;
}

std::pair<double, double> WordBox(const std::string &boxes, const std::string &word) {
  const std::size_t end = boxes.find(">" + word + "</word>");
  const std::size_t start = boxes.rfind("<word", end);
  if (end == std::string::npos || start == std::string::npos)
    return {-1, -1};
  std::istringstream fields(boxes.substr(start, end - start));
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  std::string skip;
  std::getline(fields, skip, '"') >> xMin;
  std::getline(fields, skip, '"');
  std::getline(fields, skip, '"') >> yMin;
  std::getline(fields, skip, '"');
  std::getline(fields, skip, '"') >> xMax;
  std::getline(fields, skip, '"');
  std::getline(fields, skip, '"') >> yMax;
  return {xMin, yMax - yMin};
}

} // namespace testbook
