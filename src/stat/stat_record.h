#pragma once

#include <map>
#include <string>

// Keys and values of one statistics record, ordered by key with ordinal
// (code-unit) comparison.
using StatMap = std::map<std::wstring, std::wstring>;

// Kind 2 is a trace: its values are folded into the accumulated map. Any
// other kind is a one-shot record sent as a line of its own.
constexpr int kStatKindOneShot = 1;
constexpr int kStatKindTrace = 2;

struct StatRecord {
  int kind = kStatKindTrace;
  StatMap values;
};

// Where records go: the report queue, or a test's collector.
class StatSink {
 public:
  virtual ~StatSink() = default;
  virtual void Enqueue(const StatRecord& record) = 0;
};

// A trace record with a single key.
inline StatRecord MakeTrace(const std::wstring& key, const std::wstring& value) {
  StatRecord record;
  record.kind = kStatKindTrace;
  record.values[key] = value;
  return record;
}
