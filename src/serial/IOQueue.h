// The locked first-in first-out queue through which the device threads hand received chunks and
// device event masks to the dispatcher thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace tarvex {

class TIOBuffer {
 public:
  virtual ~TIOBuffer() = default;
  bool FInUse = false;  // a consumer is looking at it; touched only under the queue's lock
  std::int32_t FDataSize = 0;
};

// A chunk of received bytes: FDataUsed filled, FDataRead already taken.
class TDataBuffer : public TIOBuffer {
 public:
  explicit TDataBuffer(std::int32_t size);
  std::unique_ptr<std::uint8_t[]> FData;
  std::int32_t FDataUsed = 0;
  std::int32_t FDataRead = 0;
};

// A device event mask.
class TStatusBuffer : public TIOBuffer {
 public:
  explicit TStatusBuffer(std::uint32_t status) : FStatus(status) {}
  std::uint32_t FStatus;
};

class TIOQueue {
 public:
  TIOQueue() = default;
  TIOQueue(const TIOQueue&) = delete;
  TIOQueue& operator=(const TIOQueue&) = delete;

  // wake false leaves a waiting consumer asleep until its own time-out; one that comes to wait
  // finds the buffer at once.
  void Push(std::unique_ptr<TIOBuffer> buffer, bool wake = true);
  // The head, marked in use; nullptr when the queue is empty or the head is already in use. The
  // caller either hands it back with Release or removes it with Pop.
  TIOBuffer* Peek();
  void Release(TIOBuffer* buffer);
  std::unique_ptr<TIOBuffer> Pop();
  // Drops every buffer not in use.
  void Clear();
  // True at once when a buffer is queued; otherwise waits for a Push up to the time-out.
  bool WaitForBuffer(std::chrono::milliseconds timeout);
  // Wakes a waiter without queuing anything (used when the consumer is to stop).
  void Wake();
  [[nodiscard]] bool Empty() const;
  [[nodiscard]] std::size_t Count() const;

 private:
  mutable std::mutex FLock;
  std::condition_variable FEvent;
  bool signalled_ = false;
  std::deque<std::unique_ptr<TIOBuffer>> list_;
};

}  // namespace tarvex
