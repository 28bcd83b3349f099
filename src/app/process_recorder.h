#pragma once

#include "app/run_recorder.h"

// The process-wide recorder, for code that reports without being handed one
// (the UI thread's traces). Set once by the entry before other threads start.
RunRecorder* ProcessRecorder();
void SetProcessRecorder(RunRecorder* recorder);
