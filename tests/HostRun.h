// charsift run as a process, as a user or a script runs it, for the tests
// of the host: its arguments quoted for the system, its outputs and status.
// Natively charsift; in the Windows suite, charsift.exe under Wine.
#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "TestSupport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>

#include <csignal>
#endif

namespace testing_support {

struct Outcome {
  int status;
  std::string out, err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
#ifdef _WIN32
  // The host writes text mode: its line ends are CR LF.
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
  return lf;
#else
  return text;
#endif
}

#ifdef _WIN32
inline const std::string kSep = "\\";

// One argument as CommandLineToArgvW reads it back.
inline std::string Quote(const std::string& text) {
  std::string out = "\"";
  std::size_t slashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  return out.append(slashes * 2, '\\') + "\"";
}

inline std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

// charsift.exe with a pipe for standard input and files for its output.
class Running {
public:
  // outputGone: standard output is a pipe nobody reads any more.
  explicit Running(const std::string& args, bool outputGone = false,
                   const char* program = CHARSIFT_HOST_PATH) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = nullptr;
    CreatePipe(&input, &input_, &inherit, 0);
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    const auto open = [&](const fs::path& p) {
      return CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE out = open(dir_ / "out"), err = open(dir_ / "err");
    if (outputGone) {
      HANDLE reader = nullptr;
      CloseHandle(out);
      CreatePipe(&reader, &out, &inherit, 0);
      CloseHandle(reader);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring command = Widen(Quote(HostPath(program).string()) + " " + args);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
      process_ = info.hProcess;
      CloseHandle(info.hThread);
    }
    CloseHandle(input);
    CloseHandle(out);
    CloseHandle(err);
  }
  void Write(const std::string& text) {
    DWORD written = 0;
    if (!text.empty())
      WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  std::string Out() const { return ReadFile(dir_ / "out"); }
  // Whether it ends by itself within the time, its input still open.
  bool EndsWithin(std::chrono::seconds time, int& status) {
    DWORD code = 0;
    if (!process_ ||
        WaitForSingleObject(process_, static_cast<DWORD>(time.count() * 1000)) != WAIT_OBJECT_0)
      return false;
    GetExitCodeProcess(process_, &code);
    status = static_cast<int>(code);
    return true;
  }
  Outcome Wait() {
    CloseHandle(input_);
    DWORD status = static_cast<DWORD>(-1);
    if (process_ && WaitForSingleObject(process_, 120000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_, &status);
    if (process_) CloseHandle(process_);
    return {static_cast<int>(status), Out(), ReadFile(dir_ / "err")};
  }

private:
  TempDir dir_;
  HANDLE input_ = nullptr, process_ = nullptr;
};
#else
inline const std::string kSep = "/";

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// charsift with a pipe for standard input and files for its output.
class Running {
public:
  // outputGone: standard output closed; the shell then records the status.
  explicit Running(const std::string& args, bool outputGone = false,
                   const char* program = CHARSIFT_HOST_PATH) {
    const std::string command = Quote(program) + " " + args +
                                (outputGone ? " >&- 2>" + Quote((dir_ / "err").string()) +
                                                  "; echo $? >" + Quote((dir_ / "status").string())
                                            : " >" + Quote((dir_ / "out").string()) + " 2>" +
                                                  Quote((dir_ / "err").string()));
    pipe_ = popen(command.c_str(), "w");
  }
  void Write(const std::string& text) {
    // A host that has ended already must not end the test.
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    std::fwrite(text.data(), 1, text.size(), pipe_);
    std::fflush(pipe_);
    std::signal(SIGPIPE, old);
  }
  std::string Out() const { return ReadFile(dir_ / "out"); }
  // Whether it ends by itself within the time, its input still open (outputGone only).
  bool EndsWithin(std::chrono::seconds time, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (std::string text; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      text = ReadFile(dir_ / "status");
      if (!text.empty() && text.back() == '\n') {
        status = std::stoi(text);
        return true;
      }
    }
    return false;
  }
  Outcome Wait() {
    const int status = pipe_ ? pclose(pipe_) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Out(), ReadFile(dir_ / "err")};
  }

private:
  TempDir dir_;
  FILE* pipe_ = nullptr;
};
#endif

inline Outcome Charsift(const std::string& args, const std::string& input = "") {
  Running run(args);
  run.Write(input);
  return run.Wait();
}

inline std::string Text(const fs::path& p) { return p.string(); }

// The lines of an output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

} // namespace testing_support
