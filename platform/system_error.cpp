#include "system_error.h"

#include <cstring>

namespace nodrel::platform {

QString SystemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

}  // namespace nodrel::platform
