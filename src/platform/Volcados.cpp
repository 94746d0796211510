#include "platform/Volcados.h"

#include <sys/prctl.h>

namespace Volcados {

bool Impedir() {
    return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

} // namespace Volcados
