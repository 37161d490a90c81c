#include "component/log.h"

namespace tessaly {

void LOG::WriteHotNews() {}

}  // namespace tessaly
