#include "app/process_recorder.h"

namespace {
RunRecorder* g_recorder = nullptr;
}

RunRecorder* ProcessRecorder() { return g_recorder; }
void SetProcessRecorder(RunRecorder* recorder) { g_recorder = recorder; }
