// The cheapest in-process host that can run the plug-in, for the benchmarks:
// every answer is a few stores, and all memory it hands out ('ALOC', 'MMAL')
// is reserved once up front, so that a timed loop measures the plug-in and
// not the host. It checks nothing; the test host does that.
#ifndef VESTREL_BENCHMARKS_BENCH_HOST_H
#define VESTREL_BENCHMARKS_BENCH_HOST_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "controldata/control_data.h"
#include "host/info_record.h"

class BenchHost {
 public:
  // Room for a parameter block of maxPoints points and a sample array of
  // maxFrames nodes of nodeSize bytes. The instance starts with a block of
  // default parameters and no points, as after 'INIT'.
  BenchHost(int32_t maxPoints, int32_t maxFrames, size_t nodeSize);
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  // Sets up the process-wide state of a call the way the entry does, so that
  // a function of the plug-in (SimplifyPath) can be called directly.
  void EnterCall();
  // Calls the plug-in's entry.
  int32_t Send(uint32_t selector);

  // The scene of 'SETM': the child's position at frames 0, 1, ... (the
  // frame range is 0 to size - 1).
  void SetMotion(const std::vector<Fxyzu>& samples);

  CControlData* Block() const { return static_cast<CControlData*>(info_->parameterBlock); }
  HostInfoRec& Info() { return *info_; }
  int32_t verticesAdded() const { return nextVertex_; }

  // The callback of the info record.
  static int32_t Callback(uint32_t selector, int32_t size, void* record);

 private:
  int32_t Serve(uint32_t selector, void* record);

  std::unique_ptr<uint8_t[]> infoBytes_;
  HostInfoRec* info_;
  std::unique_ptr<uint8_t[]> block_;
  int32_t blockCapacity_;
  std::unique_ptr<uint8_t[]> sampleMemory_;
  intptr_t sampleCapacity_;
  std::vector<double> positions_;  // x, y, z of each frame
  int32_t lastFrame_ = -1;
  int32_t currentFrame_ = 0;
  int32_t nextVertex_ = 0;
};

#endif
