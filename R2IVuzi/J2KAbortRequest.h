// Closes the observer's JPIP channel; mode 1 also ends the image loader's thread.
#pragma once

#include "R2IVuzi/J2KRequest.h"

#include <cstdint>

class CJ2KAbortRequest : public CJ2KRequest {
public:
    CJ2KAbortRequest(const boost::shared_ptr<CJ2KObserver>& observer, int32_t mode, const std::string& text);
    void Execute() override;
    std::string name() const override { return "CJ2KAbortRequest"; }
    bool interruptsRunning() const override { return true; }

private:
    int32_t m_mode;
    std::string m_text;
};
