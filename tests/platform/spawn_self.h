/* Runs the test program itself again as a second process of the device: the
 * child finds VELMAR_TEST_CHILD (its mode) and VELMAR_TEST_ARG in its
 * environment and runs the file's child function instead of the tests. The
 * parent talks to it through pipes: the child's replies come on its standard
 * output, and its standard input stays open until the parent closes it. */
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace spawn_self {

using ChildMain = int (*)(const std::string& mode, const std::string& arg);

/* Registered once per test program; runs before any test. */
class ChildEnvironment : public ::testing::Environment {
 public:
  explicit ChildEnvironment(ChildMain main) : main_(main) {}
  void SetUp() override {
    const char* mode = getenv("VELMAR_TEST_CHILD");
    if (!mode) return;
    const char* arg = getenv("VELMAR_TEST_ARG");
    int code = main_(mode, arg ? arg : "");
    fflush(stdout);
    _exit(code);
  }

 private:
  ChildMain main_;
};

struct Child {
  pid_t pid = -1;
  int to_child = -1;   /* the child's standard input */
  int from_child = -1; /* the child's standard output */
};

inline Child start(const std::string& mode, const std::string& arg) {
  Child child;
  int in[2], out[2];
  if (pipe(in) != 0) return child;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return child;
  }
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = 0;
  /* Everything the child needs is made before fork: after it, only exec. */
  std::vector<std::string> settings = {"VELMAR_TEST_CHILD=" + mode, "VELMAR_TEST_ARG=" + arg};
  std::vector<char*> env;
  for (char** e = environ; *e; e++) {
    if (strncmp(*e, "VELMAR_TEST_", 12) != 0) env.push_back(*e);
  }
  for (auto& s : settings) env.push_back(&s[0]);
  env.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    execle(exe, exe, (char*)nullptr, env.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  child.pid = pid;
  child.to_child = in[1];
  child.from_child = out[0];
  return child;
}

/* In the child: one line for the parent (the test program's own output goes
 * to the same pipe, so replies carry a mark). */
inline void reply(const std::string& text) {
  std::string line = "child-reply: " + text + "\n";
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

/* The child's next reply; empty when its output ends first. */
inline std::string read_reply(const Child& child) {
  const std::string mark = "child-reply: ";
  for (;;) {
    std::string line;
    char c;
    bool any = false;
    while (read(child.from_child, &c, 1) == 1) {
      any = true;
      if (c == '\n') break;
      line += c;
    }
    if (!any) return std::string();
    if (line.compare(0, mark.size(), mark) == 0) return line.substr(mark.size());
  }
}

/* Closes the child's input and waits for it; returns its exit status, or
 * 128 + the signal that ended it. */
inline int finish(Child& child, int signal_to_send = 0) {
  if (signal_to_send) kill(child.pid, signal_to_send);
  if (child.to_child >= 0) close(child.to_child);
  int status = 0;
  waitpid(child.pid, &status, 0);
  if (child.from_child >= 0) close(child.from_child);
  child = Child();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/* In the child: waits until the parent closes the standard input. */
inline void wait_for_parent() {
  char c;
  while (read(0, &c, 1) > 0) {
  }
}

}  // namespace spawn_self
