// The inflating thread and its hand-over: blocks of input in, blocks of
// output back, each side waiting only when the other is behind.
#include "dunzip/inflate_worker.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace dunzip {

TInflateWorker::TInflateWorker() {
  try {
    Memory.resize((2 + OutCount) * BlockSize);
  } catch (const std::bad_alloc &) {
    return;
  }
  for (int i = 0; i < 2; ++i)
    In[i] = Memory.data() + i * BlockSize;
  for (int i = 0; i < OutCount; ++i) {
    Out[i] = Memory.data() + (2 + i) * BlockSize;
    OutFree[i] = true;
  }
  if (inflateInit2(&Stream, -MAX_WBITS) != Z_OK)
    return;
  StreamReady = true;
  try {
    Thread = std::thread([this] { Run(); });
  } catch (const std::system_error &) {
    // Inline inflating gives the same results, only on one core.
  }
}

TInflateWorker::~TInflateWorker() {
  if (Thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Stop = true;
      Quit = true;
    }
    Changed.notify_all();
    Thread.join();
  }
  if (StreamReady)
    inflateEnd(&Stream);
}

void TInflateWorker::Run() {
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    Changed.wait(lock, [this] { return HasJob || Quit; });
    if (!HasJob)
      return;
    HasJob = false;
    lock.unlock();
    const TZipError result = Job();
    lock.lock();
    if (!Stop) {
      TEvent end;
      end.Result = result;
      Emit(end);
    }
    Idle = true;
    Changed.notify_all();
  }
}

void TInflateWorker::Emit(const TEvent &event) {
  Events[(EventHead + EventCount) % EventCapacity] = event;
  ++EventCount;
}

TZipError TInflateWorker::Job() {
  inflateReset(&Stream);
  z_stream &z = Stream;
  // A job the caller gave up on may have left input behind.
  z.next_in = nullptr;
  z.avail_in = 0;
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
  std::uint64_t remainingIn = CompressedSize;
  std::uint64_t produced = 0;
  std::uint64_t taken = 0;
  for (;;) {
    if (z.avail_in == 0 && remainingIn > 0) {
      std::unique_lock<std::mutex> lock(Lock);
      Changed.wait(lock, [&] { return Stop || InFailed || Handed > taken; });
      if (Stop)
        return TZipError::None;
      if (Handed <= taken)
        return TZipError::Read;
      const int block = static_cast<int>(taken % 2);
      z.next_in = In[block];
      z.avail_in = static_cast<uInt>(InLength[block]);
      remainingIn -= InLength[block];
      ++taken;
      // The buffer of the block before is free again: the caller reads the
      // next block into it while this one is inflated.
      if (remainingIn > 0) {
        TEvent need;
        need.Kind = TKind::NeedInput;
        Emit(need);
        Changed.notify_all();
      }
    }
    int buffer = 0;
    {
      std::unique_lock<std::mutex> lock(Lock);
      Changed.wait(lock, [&] {
        return Stop || std::find(OutFree, OutFree + OutCount, true) != OutFree + OutCount;
      });
      if (Stop)
        return TZipError::None;
      buffer = static_cast<int>(std::find(OutFree, OutFree + OutCount, true) - OutFree);
      OutFree[buffer] = false;
    }
    z.next_out = Out[buffer];
    z.avail_out = static_cast<uInt>(BlockSize);
    const int status = inflate(&z, Z_NO_FLUSH);
    const std::size_t have = BlockSize - z.avail_out;
    if (have > UncompressedSize - produced) {
      std::lock_guard<std::mutex> lock(Lock);
      OutFree[buffer] = true;
      return TZipError::Crc;
    }
    if (have > 0) {
      crc = static_cast<std::uint32_t>(crc32(crc, Out[buffer], static_cast<uInt>(have)));
      produced += have;
    }
    {
      std::lock_guard<std::mutex> lock(Lock);
      if (have == 0) {
        OutFree[buffer] = true;
      } else {
        TEvent output;
        output.Kind = TKind::Output;
        output.Buffer = buffer;
        output.Length = have;
        Emit(output);
      }
    }
    if (have > 0)
      Changed.notify_all();
    if (status == Z_STREAM_END)
      break;
    if (status == Z_BUF_ERROR && z.avail_in == 0 && remainingIn == 0)
      return TZipError::BadArchive; // the stream ends early
    if (status != Z_OK && status != Z_BUF_ERROR)
      return TZipError::BadArchive;
  }
  // The deflate stream has to fill the compressed size exactly.
  if (z.avail_in != 0 || remainingIn != 0)
    return TZipError::BadArchive;
  if (produced != UncompressedSize || crc != ExpectedCrc)
    return TZipError::Crc;
  return TZipError::None;
}

TInflateWorker::TEvent TInflateWorker::NextEvent() {
  std::unique_lock<std::mutex> lock(Lock);
  Changed.wait(lock, [this] { return EventCount > 0; });
  const TEvent event = Events[EventHead];
  EventHead = (EventHead + 1) % EventCapacity;
  --EventCount;
  return event;
}

void TInflateWorker::StopJob() {
  std::unique_lock<std::mutex> lock(Lock);
  Stop = true;
  Changed.notify_all();
  Changed.wait(lock, [this] { return Idle; });
}

TZipError TInflateWorker::Inflate(const TZipEntry &entry, std::uint64_t offset, TByteSource &source,
                                  TByteSink &sink) {
  std::uint64_t remainingRead = entry.CompressedSize;
  std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(remainingRead, BlockSize));
  if (!source.ReadAt(offset, In[0], length))
    return TZipError::Read;
  offset += length;
  remainingRead -= length;
  std::uint64_t next = 1;
  {
    std::lock_guard<std::mutex> lock(Lock);
    CompressedSize = entry.CompressedSize;
    UncompressedSize = entry.UncompressedSize;
    ExpectedCrc = entry.Crc32;
    InLength[0] = length;
    Handed = 1;
    InFailed = false;
    Stop = false;
    EventHead = EventCount = 0;
    std::fill(OutFree, OutFree + OutCount, true);
    Idle = false;
    HasJob = true;
  }
  Changed.notify_all();
  for (;;) {
    const TEvent event = NextEvent();
    switch (event.Kind) {
    case TKind::End:
      return event.Result; // the thread is idle again
    case TKind::Output: {
      const bool written = sink.Write(Out[event.Buffer], event.Length);
      {
        std::lock_guard<std::mutex> lock(Lock);
        OutFree[event.Buffer] = true;
      }
      Changed.notify_all();
      if (!written) {
        StopJob();
        return TZipError::SinkFailed;
      }
      break;
    }
    case TKind::NeedInput: {
      const int block = static_cast<int>(next % 2);
      length = static_cast<std::size_t>(std::min<std::uint64_t>(remainingRead, BlockSize));
      // A failed read is reported where the inflater needs the block, after
      // everything that came out before it has been written.
      const bool read = source.ReadAt(offset, In[block], length);
      {
        std::lock_guard<std::mutex> lock(Lock);
        if (read) {
          InLength[block] = length;
          ++Handed;
        } else {
          InFailed = true;
        }
      }
      Changed.notify_all();
      offset += length;
      remainingRead -= length;
      ++next;
      break;
    }
    }
  }
}

} // namespace dunzip
