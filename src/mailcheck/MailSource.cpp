#include "mailcheck/MailSource.h"

namespace qnb {

TMailSource& TMailSourceSlot::Set(std::unique_ptr<TMailSource> source) {
  std::lock_guard lock(mutex_);
  source_ = std::move(source);
  return *source_;
}

void TMailSourceSlot::Release() noexcept {
  std::unique_ptr<TMailSource> old;
  std::lock_guard lock(mutex_);
  old = std::move(source_);
}

bool TMailSourceSlot::Disconnect() {
  std::lock_guard lock(mutex_);
  if (!source_) return false;
  source_->Disconnect();
  return true;
}

}  // namespace qnb
