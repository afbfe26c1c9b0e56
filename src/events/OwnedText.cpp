#include "events/OwnedText.h"

void OwnedText::cut(size_t length) {
  if (!data_ || length >= length_) return;
  data_[length] = '\0';
  length_ = static_cast<uint32_t>(length);
}
