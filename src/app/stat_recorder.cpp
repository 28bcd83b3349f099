#include "app/stat_recorder.h"

void StatRecorder::Stamp(int stat, int result, int extReason) {
  stat_.Stamp(stat, result, extReason);
}

void StatRecorder::EndReport() {
  stat_.LogReportEnd();
  stat_.LogReportRunning();
}
