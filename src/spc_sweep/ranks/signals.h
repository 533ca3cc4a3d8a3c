// The signals that end a run early: a job's time limit (SIGTERM, or SIGUSR1
// asked for ahead of it), or Ctrl-C. The run then starts nothing new, keeps
// what has come back, and the tool ends with kInterruptedStatus.
#pragma once

// Documented in --help and the README: the same command resumes the run.
constexpr int kInterruptedStatus = 75;

void catchInterruptions();
// The signal that arrived, or 0.
int interruption();
const char* signalName(int signal);
// For tests: as if the signal had arrived (0: as if none had).
void pretendInterruption(int signal);
