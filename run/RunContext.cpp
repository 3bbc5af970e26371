#include "run/RunContext.h"

#include "run/Extras.h"
#include "run/RunCounts.h"

namespace qm {

struct RunStateParts::Parts {
  ExtrasSettings extras;
  RunCounts counts;
};

RunStateParts::RunStateParts()
    : parts_(std::make_unique<Parts>()),
      extras(parts_->extras),
      uploadExtras(parts_->extras),
      descriptionExtras(parts_->extras),
      listingExtras(parts_->extras),
      counts(parts_->counts) {}

RunStateParts::~RunStateParts() = default;

RunStateParts& RunStateParts::operator=(RunStateParts&& other) noexcept {
  *parts_ = std::move(*other.parts_);
  return *this;
}

}  // namespace qm
