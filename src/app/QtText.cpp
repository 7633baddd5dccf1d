#include "app/QtText.h"

namespace qnb {

std::string EditedBytes(const QString& shown, const std::string& original) {
  return shown == ToQ(original) ? original : FromQ(shown);
}

}  // namespace qnb
