#include "platform/SystemGuid.h"

#include <uuid/uuid.h>

namespace zeza {

bool CreateGuidText(std::string& text) {
    uuid_t id;
    uuid_generate(id);
    if (uuid_is_null(id)) return false;
    char buf[37];
    uuid_unparse_upper(id, buf);
    text.assign(buf, 36);
    return true;
}

}  // namespace zeza
