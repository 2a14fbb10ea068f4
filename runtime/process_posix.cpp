// POSIX back end of the process service: the own path from /proc, no
// console window, _exit for the end, signal handlers and masks for
// interrupts, setrlimit for the open-file limit.
#include "runtime/process.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile InterruptProcedure gInterruptProcedure = nullptr;

// Runs with every interrupt signal blocked (sa_mask), so a second one waits
// until the process has ended.
void OnInterruptSignal(int signal) {
  InterruptProcedure procedure = gInterruptProcedure;
  if (procedure != nullptr) procedure();
  _exit(kInterruptExitBase + signal);
}

}  // namespace

Text OwnExecutablePath() {
  char path[kOwnPathCapacity];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof path)) return Text();
  return Text(path, static_cast<int>(length));
}

int OpenConsoleWindow(ConsoleCloseProcedure) {  // no console to close
  return 0;
}

void EndProcess(int32_t exitCode) { _exit(exitCode); }

int CatchInterrupts(InterruptProcedure procedure) {
  gInterruptProcedure = procedure;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = procedure != nullptr ? OnInterruptSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterruptSignals) sigaddset(&action.sa_mask, signal);
  int ok = 1;
  for (int signal : kInterruptSignals) {
    if (sigaction(signal, &action, nullptr) != 0) ok = 0;
  }
  return ok;
}

void HoldInterrupts(int hold) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kInterruptSignals) sigaddset(&signals, signal);
  pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

int RaiseOpenFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == limit.rlim_max) return 1;
  limit.rlim_cur = limit.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0 ? 1 : 0;
}
