#include "xpath/action_store.h"

namespace XPath {

void action_store::add(int32_t construct, int32_t sub_kind, int32_t number, const char* text)
{
    if (actions_.size() == actions_.capacity())
        actions_.reserve(actions_.capacity() + 100);
    action a;
    a.construct = construct;
    a.sub_kind = sub_kind;
    a.number = number;
    if (text)
        a.text = text;
    actions_.push_back(std::move(a));
}

} // namespace XPath
