// The worker that flushes committed files while the caller copies the next
// ones: a flush waits for the disk, which would otherwise hold up every file
// in turn.
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/internal.h"

namespace platform {

namespace {
// Files waiting for their flush: enough to keep the disk busy while the
// caller copies, few enough to hold few handles open.
constexpr std::size_t MaxPending = 32;
} // namespace

struct TFlushBehind::TWorker {
  std::thread Thread;
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TFile> Pending;
  bool Quit = false;
  int Error = 0; // of the first flush that failed

  void Run() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
      Changed.wait(lock, [this] { return !Pending.empty() || Quit; });
      if (Pending.empty())
        return;
      TFile file = std::move(Pending.front());
      Pending.pop_front();
      lock.unlock();
      const bool flushed = file.Flush();
      const int error = flushed ? 0 : LastError();
      file.Close();
      lock.lock();
      if (!flushed && Error == 0)
        Error = error != 0 ? error : ErrorWriteFault;
      Changed.notify_all();
    }
  }
};

TFlushBehind::TFlushBehind() {
  if (!detail::FlushesEachFile() || detail::Simulating())
    return;
  try {
    auto worker = std::make_unique<TWorker>();
    TWorker *raw = worker.get();
    worker->Thread = std::thread([raw] { raw->Run(); });
    Worker = std::move(worker);
  } catch (const std::exception &) {
    // No thread or no memory: the caller flushes each file itself.
  }
}

TFlushBehind::~TFlushBehind() {
  (void)Finish();
}

void TFlushBehind::Take(TFile &&file) {
  std::unique_lock<std::mutex> lock(Worker->Lock);
  Worker->Changed.wait(lock, [this] { return Worker->Pending.size() < MaxPending; });
  Worker->Pending.push_back(std::move(file));
  Worker->Changed.notify_all();
}

bool TFlushBehind::Finish() {
  if (Worker == nullptr)
    return true;
  {
    std::lock_guard<std::mutex> lock(Worker->Lock);
    Worker->Quit = true;
  }
  Worker->Changed.notify_all();
  // The thread empties Pending before it ends.
  Worker->Thread.join();
  const int error = Worker->Error;
  Worker.reset();
  if (error != 0) {
    detail::SetError(error);
    return false;
  }
  return true;
}

} // namespace platform
