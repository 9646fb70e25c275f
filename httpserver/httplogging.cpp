#include "httplogging.h"

namespace corvane {

Q_LOGGING_CATEGORY(httpLog, "corvane.http")

} // namespace corvane
