// Inflating an entry on a second thread while the calling thread reads the
// archive and writes what came out before: the two cores share the work of a
// large entry.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

#include "dunzip/zip_reader.h"

namespace dunzip {

// Only computation (inflate and the CRC-32) leaves the calling thread. Every
// read of the archive and every write into the sink stays on it, in an order
// that follows from the data alone (the next block is read where the
// inflater starts on the one before), so fault counting, progress and
// results are those of one thread. The thread is started once, serves entry
// after entry and is joined by the destructor; nothing it runs throws.
class TInflateWorker {
public:
  TInflateWorker();
  ~TInflateWorker();
  TInflateWorker(const TInflateWorker &) = delete;
  TInflateWorker &operator=(const TInflateWorker &) = delete;

  // False when no thread (or no inflater) could be had: inflate inline then.
  bool Running() const { return Thread.joinable(); }
  // The deflated data of `entry` at `offset` of `source` into `sink`, with
  // the checks and results of TZipReader's own loop.
  TZipError Inflate(const TZipEntry &entry, std::uint64_t offset, TByteSource &source,
                    TByteSink &sink);

  // One input and one output buffer of ZipBufferSize each, for the entries
  // inflated inline while the thread is idle.
  std::uint8_t *InputBuffer() { return In[0]; }
  std::uint8_t *OutputBuffer() { return Out[0]; }

  // Blocks as large as the inline loop's buffers, so that the sink gets the
  // same pieces and progress shows the same figures.
  static constexpr std::size_t BlockSize = ZipBufferSize;

private:
  static constexpr int OutCount = 2;
  enum class TKind : std::uint8_t { Output, NeedInput, End };
  struct TEvent {
    TKind Kind = TKind::End;
    int Buffer = 0;
    std::size_t Length = 0;
    TZipError Result = TZipError::None;
  };

  void Run();
  // One entry, on the thread; takes the lock only to wait and to hand over.
  TZipError Job();
  void Emit(const TEvent &event); // under the lock
  TEvent NextEvent();
  // Ends a job the caller gives up on and waits until the thread is idle.
  void StopJob();

  std::thread Thread;
  std::mutex Lock;
  std::condition_variable Changed;
  bool Quit = false;
  bool HasJob = false;
  bool Idle = true;
  bool Stop = false;

  // The job: set before it starts, read by the thread only.
  z_stream Stream{};
  bool StreamReady = false;
  std::uint64_t CompressedSize = 0, UncompressedSize = 0;
  std::uint32_t ExpectedCrc = 0;

  // Input blocks in order, block n in In[n % 2]; Handed counts those read.
  std::uint8_t *In[2] = {nullptr, nullptr};
  std::size_t InLength[2] = {0, 0};
  std::uint64_t Handed = 0;
  bool InFailed = false;

  std::uint8_t *Out[OutCount] = {};
  bool OutFree[OutCount] = {};

  // Events for the caller in order; at most every output buffer, one
  // request for input and the end are pending at once.
  static constexpr int EventCapacity = OutCount + 2;
  TEvent Events[EventCapacity];
  int EventHead = 0, EventCount = 0;

  std::vector<std::uint8_t> Memory;
};

} // namespace dunzip
