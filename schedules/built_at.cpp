#include "built_at.h"

namespace relais {

qint64 programBuiltAt() {
    return qint64(RELAIS_BUILT_AT) * 1000;
}

} // namespace relais
