#include "component/log.h"

namespace tessaly {

void LOG::WriteLogList() {}

}  // namespace tessaly
