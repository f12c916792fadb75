/* Runs a host tool as a child process with exactly the given arguments (no
 * shell between) and collects its standard output, standard error and exit
 * status; both pipes are read as they fill, so neither can stall the tool. */
#pragma once

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

struct ToolRun {
  int status = -1;  /* the exit status; -1 when the tool did not exit */
  std::string out;  /* standard output */
  std::string err;  /* standard error */
};

/* `while_running`, when given, is called with the child's pid and its
 * output and error so far, about every 20 ms, until it returns false. */
inline ToolRun run_tool(const std::string& exe, const std::vector<std::string>& args,
                        const std::function<bool(pid_t, const std::string&, const std::string&)>&
                            while_running = nullptr) {
  ToolRun run;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return run;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]), close(err[0]), close(out[1]), close(err[1]);
    std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]), close(err[1]);
  bool watching = (bool)while_running;
  struct pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (watching) watching = while_running(pid, run.out, run.err);
    if (poll(p, 2, 20) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t n = read(p[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i ? run.err : run.out).append(buffer, (size_t)n);
      } else {
        close(p[i].fd);
        p[i].fd = -1;
        open_pipes--;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
