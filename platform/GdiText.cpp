#include "platform/GdiInternal.h"

namespace platform {
namespace gdi {
std::shared_ptr<Object> makeSystemFont()
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Font;
    return o;
}
} // namespace gdi
} // namespace platform
