#include "serial/IOQueue.h"

#include <algorithm>

namespace tarvex {

TDataBuffer::TDataBuffer(std::int32_t size) : FData(new std::uint8_t[static_cast<std::size_t>(size)]) {
  FDataSize = size;
}

void TIOQueue::Push(std::unique_ptr<TIOBuffer> buffer, bool wake) {
  {
    std::lock_guard lock(FLock);
    buffer->FInUse = false;
    list_.push_back(std::move(buffer));
    signalled_ = true;
  }
  if (wake) FEvent.notify_all();
}

TIOBuffer* TIOQueue::Peek() {
  std::lock_guard lock(FLock);
  if (list_.empty() || list_.front()->FInUse) return nullptr;
  list_.front()->FInUse = true;
  return list_.front().get();
}

void TIOQueue::Release(TIOBuffer* buffer) {
  std::lock_guard lock(FLock);
  buffer->FInUse = false;
}

std::unique_ptr<TIOBuffer> TIOQueue::Pop() {
  std::lock_guard lock(FLock);
  if (list_.empty()) return nullptr;
  auto head = std::move(list_.front());
  list_.pop_front();
  head->FInUse = false;
  return head;
}

void TIOQueue::Clear() {
  std::deque<std::unique_ptr<TIOBuffer>> dropped;
  std::lock_guard lock(FLock);
  auto keep = std::stable_partition(list_.begin(), list_.end(), [](const auto& b) { return b->FInUse; });
  std::move(keep, list_.end(), std::back_inserter(dropped));
  list_.erase(keep, list_.end());
}

bool TIOQueue::WaitForBuffer(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FLock);
  if (!list_.empty()) return true;
  FEvent.wait_for(lock, timeout, [&] { return signalled_; });
  signalled_ = false;
  return !list_.empty();
}

void TIOQueue::Wake() {
  {
    std::lock_guard lock(FLock);
    signalled_ = true;
  }
  FEvent.notify_all();
}

bool TIOQueue::Empty() const {
  std::lock_guard lock(FLock);
  return list_.empty();
}

std::size_t TIOQueue::Count() const {
  std::lock_guard lock(FLock);
  return list_.size();
}

}  // namespace tarvex
