#include "platform/LocalTime.h"

namespace zeza {

std::tm LocalTimeOf(std::time_t t) {
    std::tm local{};
    // The reentrant form: the refresh thread and the data server's threads convert too.
    localtime_r(&t, &local);
    return local;
}

}  // namespace zeza
