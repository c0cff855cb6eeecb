#include "R2IVuzi/OrbelRvdErrorMessage.h"

#include "R2IVuzi/J2KException.h"

// Codec errors have always been reported as raised by the control's header, at the line
// of the bridge's throw; log readers rely on that name.
ORBEL_SOURCE_NAME(".\\facade\\OrbelViewer")

namespace {
const int kBridgeThrowLine = 68;
}

Orbel_Rvd_Error_Message::Orbel_Rvd_Error_Message(bool throw_flag) : throw_flag_(throw_flag) {}

Orbel_Rvd_Error_Message::~Orbel_Rvd_Error_Message() noexcept(false) {}

void Orbel_Rvd_Error_Message::put_text(const char16_t* text) { (void)text; }

void Orbel_Rvd_Error_Message::put_text(const char* text)
{
    if (text)
        collected_ += text;
}

void Orbel_Rvd_Error_Message::flush(bool end_of_message)
{
    if (!end_of_message)
        return;
    std::string text;
    text.swap(collected_);
    if (throw_flag_)
        ORBEL_THROW_AT(CJ2KException, kBridgeThrowLine, text, std::string());
}

void Orbel_Rvd_Error_Message::start_message() {}
