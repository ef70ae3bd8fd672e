#include "tasks/uInstance.h"

namespace kelvor {

TKelvorInstance::TKelvorInstance() = default;
TKelvorInstance::~TKelvorInstance() = default;

}  // namespace kelvor
